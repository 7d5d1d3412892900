// An owned glibc iconv converter, for the encodings the program does not convert itself.
#pragma once

#include <iconv.h>

#include <cerrno>
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
    // Whether the last Convert stopped at a sequence cut off by the end of its input, rather
    // than at one that is wrong whatever follows.
    bool StoppedAtEnd() const { return m_lastError == EINVAL; }

    // Appends what returns the output to its initial state (an escape back to ASCII, a
    // character held back to see what follows) and resets the converter.
    void Flush(std::string& out);

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t m_cd;
    int m_lastError = 0;
};
