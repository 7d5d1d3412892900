// Start and end of the program's runtime, and creation of its in-process classes.
// The one place that knows the services: CoInitialize starts the download service
// (platform/net) and CoCreateInstance makes the HTML document (platform/html). The program
// starts the runtime; the engine creates its documents through it.
#include "platform/com/com.h"
#include "platform/html/mshtml.h"
#include "platform/net/urlmon.h"

namespace {
int g_nInitCount = 0;
HRESULT g_hrForcedFailure = S_OK;
} // namespace

void SetCoInitializeFailureForTesting(HRESULT hr) {
    g_hrForcedFailure = hr;
}

HRESULT CoInitialize(void*) {
    if (FAILED(g_hrForcedFailure))
        return g_hrForcedFailure;
    if (g_nInitCount > 0) {
        ++g_nInitCount;
        return S_FALSE;
    }
    if (!UrlServiceStartup())
        return E_FAIL;
    ++g_nInitCount;
    return S_OK;
}

void CoUninitialize() {
    if (g_nInitCount > 0 && --g_nInitCount == 0)
        UrlServiceShutdown();
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_CLASSNOTAVAILABLE;
    if (clsid == CLSID_HTMLDocument)
        return CreateHTMLDocument(riid, ppv);
    return REGDB_E_CLASSNOTREG;
}
