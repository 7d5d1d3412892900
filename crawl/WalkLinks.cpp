// The link walker: hands tone links to the tone downloader and numbered library pages back
// to the page loader, so the crawl goes depth first.
#include "crawl/CrawlEngine.h"
#include "crawl/LinkRules.h"
#include "platform/com/com_ptr.h"
#include "platform/text/text.h"

bool IsAllDigits(LPCWSTR text) {
    if (!text)
        return false;
    for (; *text; ++text) {
        if (*text < u'0' || *text > u'9')
            return false;
    }
    return true;
}

void CCrawlEngine::WalkLinks(LPCWSTR url, IHTMLDocument2* document) {
    if (m_walked.Contains(url))
        return;
    m_walked.Add(url);

    CComPtr<IHTMLDocument3> pDocument3;
    if (FAILED(document->QueryInterface(IID_IHTMLDocument3, pDocument3.ppv())) || !pDocument3)
        return;

    CBstr tagName(u"A");
    CComPtr<IHTMLElementCollection> pAnchors;
    pDocument3->getElementsByTagName(tagName.get(), &pAnchors);
    if (!pAnchors)
        return;
    LONG nAnchors = 0;
    if (FAILED(pAnchors->get_length(&nAnchors)) || nAnchors <= 0)
        return;

    // The same for every anchor of the page, so made once; a page crawled from here in
    // between shows its own status, and the next anchor puts this one back.
    WCHAR szStatus[1024];
    wnsprintf(szStatus, 1024, u"Walking links on\r\n%s", url);
    CBstr attributeName(u"href");
    for (LONG i = 0; i < nAnchors; ++i) {
        if (m_pProgress->m_bCancel)
            break;

        m_pProgress->SetPageStatus(szStatus);

        VARIANT name, index;
        VariantInit(&name);
        VariantInit(&index);
        name.vt = VT_I4;
        name.lVal = i;
        CComPtr<IDispatch> pDispatch;
        pAnchors->item(name, index, &pDispatch);
        CComPtr<IHTMLElement> pAnchor;
        if (pDispatch)
            pDispatch->QueryInterface(IID_IHTMLElement, pAnchor.ppv());
        if (!pAnchor)
            continue;

        CVariant href;
        CBstr text;
        pAnchor->getAttribute(attributeName.get(), 0, &href);
        // A text that the document did not read comes back as none, so it is no page number.
        pAnchor->get_innerText(&text);
        if (href->vt != VT_BSTR || !href->bstrVal)
            continue;

        LPCWSTR address = href->bstrVal;
        if (IsToneLink(address))
            DownloadTone(address, 2);
        else if (IsPageLink(address, text.get()))
            CrawlPage(address);
    }
}
