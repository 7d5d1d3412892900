// An owned glibc iconv converter, for the encodings the program does not convert itself.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

class Iconv {
public:
    // From one encoding to another, by their iconv names; false when the system has no such
    // converter.
    Iconv(const char* to, const char* from);
    ~Iconv();
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    explicit operator bool() const { return m_cd != kNone; }

    // Converts from the front of in, appending to out and taking off in what it converted.
    // Stops at the end of in (true), or (false) at a sequence that is malformed, cut off at the
    // end, or has no form in the target encoding.
    bool Convert(std::string_view& in, std::string& out);

    // Appends what returns the output to its initial state (an escape back to ASCII, a
    // character held back to see what follows) and resets the converter.
    void Flush(std::string& out);

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd;
};
