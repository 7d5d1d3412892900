// Why a binding failed: a failure found on this side of the connection outranks libcurl's
// code, and each is told in the words of urlmon_failure.h.
#include "platform/net/urlmon_binding.h"

#include "platform/net/urlmon_failure.h"
#include "platform/text/text_error.h"

#include <cerrno>

namespace urlmon {

bool Binding::FailLocally(const char16_t* reason) {
    if (SUCCEEDED(m_hrLocalFailure)) {
        m_hrLocalFailure = INET_E_DOWNLOAD_FAILURE;
        m_szLocalFailure = reason;
    }
    return false;
}

bool Binding::FailCache(int error) {
    if (SUCCEEDED(m_hrLocalFailure)) {
        m_hrLocalFailure = STG_E_WRITEFAULT;
        m_nCacheError = error != 0 ? error : EIO;
    }
    return false;
}

HRESULT Binding::ResultOf(CURLcode code) const {
    if (m_nHttpError != 0)
        return m_nHttpError == 404 ? INET_E_RESOURCE_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
    if (FAILED(m_hrLocalFailure))
        return m_hrLocalFailure;
    if (m_bCut)
        return S_OK; // ended on purpose, whatever libcurl makes of that
    switch (code) {
    case CURLE_OK:
        return S_OK;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return INET_E_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: // no connection in time, or nothing received for long
        return m_bRequestSent ? INET_E_DOWNLOAD_FAILURE : INET_E_CANNOT_CONNECT;
    case CURLE_UNSUPPORTED_PROTOCOL: // also a redirect to anything but http/https
        return INET_E_UNKNOWN_PROTOCOL;
    case CURLE_URL_MALFORMAT:
        return INET_E_INVALID_URL;
    default:
        return INET_E_DOWNLOAD_FAILURE;
    }
}

std::u16string Binding::ReasonOf(CURLcode code, long osError, long verifyResult) const {
    if (m_nHttpError != 0)
        return HttpFailureReason(m_nHttpError, m_response.statusPhrase);
    if (m_hrLocalFailure == STG_E_WRITEFAULT)
        return SystemErrorText(m_nCacheError);
    if (m_szLocalFailure)
        return m_szLocalFailure;
    return TransferFailureReason(code, osError, verifyResult, m_szCurlError);
}

} // namespace urlmon
