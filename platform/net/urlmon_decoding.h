// Undoing a response's content coding as its body arrives, so that the cache holds the file
// the server meant and not its compressed form. The service reads the coding itself rather
// than leaving it to libcurl, which takes a compressed stream that stops short of its end for
// a whole one.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace urlmon {

// What the service asks servers for (Accept-Encoding): the coding every server offers.
inline constexpr char kAcceptedCodings[] = "gzip";
inline constexpr char16_t kUnreadableBodyReason[] =
    u"the server's compressed data could not be read";

enum class ContentCoding {
    None,       // the body is the file itself
    Zlib,       // gzip, x-gzip or deflate
    Unreadable, // a coding the service cannot undo, or more than one
};

// The coding of a response from its Content-Encoding values, joined by commas.
ContentCoding ContentCodingOf(std::string_view contentEncoding);

// Reads a gzip or deflate body: one stream, or several one after another as gzip allows.
class BodyDecoder {
public:
    BodyDecoder();
    ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    // False when zlib could not start (not enough memory).
    bool IsReady() const { return m_bReady; }
    // Takes the next bytes of the coded body. They must stay valid while Read is called; the
    // next Feed replaces what is left of them.
    void Feed(const char* data, size_t size);
    // The next run of decoded bytes, at most one buffer, valid until the next call; empty
    // when what was fed is used up or turned out damaged.
    std::string_view Read();
    // Of the bytes last fed, those still to be decoded.
    size_t InputLeft() const { return m_bDamaged || m_bIgnoring ? 0 : m_stream.avail_in; }
    // Coded bytes decoded so far, over all streams.
    uint64_t ConsumedBytes() const { return m_nConsumed; }
    bool IsDamaged() const { return m_bDamaged; }
    // True when the coded body ended where its format says it ends, or was empty.
    bool IsComplete() const;

private:
    static constexpr size_t kOutBytes = 64 * 1024;

    z_stream m_stream{};
    bool m_bReady = false;
    bool m_bDamaged = false;
    bool m_bFed = false;
    bool m_bEnded = false;           // a stream has reached its end
    bool m_bDecodedSinceEnd = false; // data came since the last end: a stream is unfinished
    bool m_bRestart = false;         // the next bytes begin a new stream
    bool m_bIgnoring = false;        // what followed the last stream was padding
    uint64_t m_nConsumed = 0;
    char m_out[kOutBytes];
};

} // namespace urlmon
