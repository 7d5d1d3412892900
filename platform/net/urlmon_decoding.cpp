// Content codings: which one a response uses, and zlib undoing gzip and deflate.
#include "platform/net/urlmon_decoding.h"

#include "platform/net/urlmon_headers.h"
#include "platform/text/text_ascii.h"

namespace urlmon {

namespace {

// zlib's largest window, plus 32: a gzip or a zlib wrapper, told apart by its first bytes.
// Servers label the two loosely, and "deflate" means the zlib wrapper (RFC 9110 8.4.1.2).
constexpr int kGzipOrZlib = MAX_WBITS + 32;

} // namespace

ContentCoding ContentCodingOf(std::string_view contentEncoding) {
    int codings = 0;
    bool readable = true;
    while (!contentEncoding.empty()) {
        size_t comma = contentEncoding.find(',');
        std::string_view name = TrimHeaderValue(contentEncoding.substr(0, comma));
        contentEncoding.remove_prefix(comma == std::string_view::npos ? contentEncoding.size()
                                                                      : comma + 1);
        if (name.empty() || EqualsIgnoreAsciiCase(name, "identity"))
            continue;
        ++codings;
        readable = readable &&
                   (EqualsIgnoreAsciiCase(name, "gzip") || EqualsIgnoreAsciiCase(name, "x-gzip") ||
                    EqualsIgnoreAsciiCase(name, "deflate"));
    }
    if (codings == 0)
        return ContentCoding::None;
    return codings == 1 && readable ? ContentCoding::Zlib : ContentCoding::Unreadable;
}

BodyDecoder::BodyDecoder() {
    m_bReady = inflateInit2(&m_stream, kGzipOrZlib) == Z_OK;
}

BodyDecoder::~BodyDecoder() {
    if (m_bReady)
        inflateEnd(&m_stream);
}

void BodyDecoder::Feed(const char* data, size_t size) {
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    m_stream.avail_in = static_cast<uInt>(size); // libcurl hands over at most its buffer
    m_bFed = m_bFed || size > 0;
}

std::string_view BodyDecoder::Read() {
    while (m_bReady && m_stream.avail_in > 0 && !m_bDamaged && !m_bIgnoring) {
        if (m_bRestart) {
            inflateReset(&m_stream);
            m_bRestart = false;
        }
        m_stream.next_out = reinterpret_cast<Bytef*>(m_out);
        m_stream.avail_out = kOutBytes;
        const uInt fed = m_stream.avail_in;
        int result = inflate(&m_stream, Z_NO_FLUSH);
        m_nConsumed += fed - m_stream.avail_in;
        size_t decoded = kOutBytes - m_stream.avail_out;
        if (result == Z_STREAM_END) {
            m_bEnded = true;
            m_bDecodedSinceEnd = false;
            m_bRestart = true;
        } else if (result == Z_OK) {
            m_bDecodedSinceEnd = m_bDecodedSinceEnd || decoded > 0;
        } else if (m_bEnded && !m_bDecodedSinceEnd && decoded == 0) {
            m_bIgnoring = true; // zeros or a stray line end after the last stream
        } else {
            m_bDamaged = true;
            decoded = 0;
        }
        if (decoded > 0)
            return {m_out, decoded};
    }
    return {};
}

bool BodyDecoder::IsComplete() const {
    return !m_bDamaged && (!m_bFed || (m_bEnded && !m_bDecodedSinceEnd));
}

} // namespace urlmon
