// The words a failed transfer is reported with.
#include "platform/net/urlmon_failure.h"

#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <openssl/x509_vfy.h>

#include <cerrno>
#include <string>

namespace urlmon {

namespace {

// A server's phrase is shown as it came, but only as one short line of text.
constexpr size_t kMaxPhraseUnits = 80;

// The standard phrases of the well-known failure codes, for a status line that has none.
constexpr struct {
    long status;
    const char* phrase;
} kStandardPhrases[] = {
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {402, "Payment Required"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {406, "Not Acceptable"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {409, "Conflict"},
    {410, "Gone"},
    {411, "Length Required"},
    {412, "Precondition Failed"},
    {413, "Content Too Large"},
    {414, "URI Too Long"},
    {415, "Unsupported Media Type"},
    {416, "Range Not Satisfiable"},
    {417, "Expectation Failed"},
    {421, "Misdirected Request"},
    {422, "Unprocessable Content"},
    {425, "Too Early"},
    {426, "Upgrade Required"},
    {428, "Precondition Required"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {451, "Unavailable For Legal Reasons"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {505, "HTTP Version Not Supported"},
    {507, "Insufficient Storage"},
    {508, "Loop Detected"},
    {511, "Network Authentication Required"},
};

const char* StandardPhrase(long status) {
    for (const auto& entry : kStandardPhrases) {
        if (entry.status == status)
            return entry.phrase;
    }
    return nullptr;
}

// A system or library message made to read as the tail of a sentence: "Connection refused"
// becomes "connection refused"; an acronym such as "SSL" keeps its capitals.
std::u16string AsReason(std::u16string reason) {
    while (!reason.empty() && (reason.back() == u'.' || reason.back() == u' '))
        reason.pop_back();
    if (reason.size() >= 2 && reason[0] >= u'A' && reason[0] <= u'Z' &&
        !(reason[1] >= u'A' && reason[1] <= u'Z'))
        reason[0] = static_cast<char16_t>(reason[0] - u'A' + u'a');
    return reason;
}

// Why the server's certificate was refused: OpenSSL's verdict when it found fault with the
// certificate itself, else libcurl's own host name check.
std::u16string CertificateReason(long verifyResult, std::string_view message) {
    switch (verifyResult) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return u"the server's certificate is not trusted: it is self-signed";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return u"the server's certificate is not trusted: its issuer is unknown";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return u"the server's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return u"the server's certificate is not valid yet";
    case X509_V_ERR_CERT_REVOKED:
        return u"the server's certificate has been revoked";
    case X509_V_ERR_HOSTNAME_MISMATCH:
        return u"the server's certificate is for another host";
    case X509_V_OK:
        // libcurl checks the name itself: "... does not match target host name ..." or "no
        // alternative certificate subject name matches target host name ...".
        if (message.find("target host name") != std::string_view::npos)
            return u"the server's certificate is for another host";
        break;
    default:
        break;
    }
    return u"the server's certificate could not be verified";
}

} // namespace

std::string_view StatusLinePhrase(std::string_view statusLine) {
    // "HTTP/1.1 404 Not Found": the phrase follows the second space.
    size_t code = statusLine.find(' ');
    if (code == std::string_view::npos)
        return {};
    size_t phrase = statusLine.find(' ', code + 1);
    if (phrase == std::string_view::npos)
        return {};
    std::string_view text = statusLine.substr(phrase + 1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t'))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

std::u16string HttpFailureReason(long status, std::string_view phrase) {
    std::u16string reason = u"HTTP " + FromUtf8(std::to_string(status));
    std::u16string text;
    for (char16_t c : FromUtf8(phrase)) {
        if (text.size() == kMaxPhraseUnits) {
            if (c >= 0xDC00 && c <= 0xDFFF)
                text.pop_back(); // not half a character
            break;
        }
        text += c < 0x20 || c == 0x7F ? u' ' : c;
    }
    if (text.empty()) {
        if (const char* standard = StandardPhrase(status))
            text = FromUtf8(standard);
    }
    return text.empty() ? reason : reason + u" " + text;
}

std::u16string TransferFailureReason(CURLcode code, long osError, long verifyResult,
                                     std::string_view message) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return u"the server's name could not be found";
    case CURLE_COULDNT_RESOLVE_PROXY:
        return u"the proxy's name could not be found";
    case CURLE_OPERATION_TIMEDOUT:
        return kNoAnswerReason;
    case CURLE_COULDNT_CONNECT:
        // The system knows why: refused, no route to the host, the network is down.
        if (osError == ETIMEDOUT)
            return kNoAnswerReason;
        if (osError != 0)
            return AsReason(SystemErrorText(static_cast<int>(osError)));
        return u"the server could not be reached";
    case CURLE_PEER_FAILED_VERIFICATION:
        return CertificateReason(verifyResult, message);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return u"the secure connection failed";
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return u"the connection was lost";
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return u"the server's answer could not be understood";
    case CURLE_TOO_MANY_REDIRECTS:
        return u"too many redirects";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return kOnlyWebReason;
    case CURLE_URL_MALFORMAT:
        return kInvalidAddressReason;
    case CURLE_OUT_OF_MEMORY:
        return kOutOfMemoryReason;
    default:
        if (osError != 0)
            return AsReason(SystemErrorText(static_cast<int>(osError)));
        return AsReason(FromUtf8(curl_easy_strerror(code)));
    }
}

} // namespace urlmon
