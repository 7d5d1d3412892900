// The link walker: hands tone links to the tone downloader and numbered library pages back
// to the page loader, so the crawl goes depth first.
#include "crawl/CrawlEngine.h"
#include "crawl/LinkRules.h"
#include "platform/com/com_ptr.h"
#include "platform/text/text.h"

#include <utility>

bool IsAllDigits(LPCWSTR text) {
    if (!text)
        return false;
    for (; *text; ++text) {
        if (*text < u'0' || *text > u'9')
            return false;
    }
    return true;
}

namespace {

// Anchor i of the page, or none.
CComPtr<IHTMLElement> AnchorAt(IHTMLElementCollection* pAnchors, LONG i) {
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
    return pAnchor;
}

// One anchor's address and what the walk does with it.
CWalkedAnchor ReadAnchor(IHTMLElementCollection* pAnchors, LONG i, BSTR attributeName) {
    CWalkedAnchor anchor;
    const CComPtr<IHTMLElement> pAnchor = AnchorAt(pAnchors, i);
    if (!pAnchor)
        return anchor;

    CVariant href;
    CBstr text;
    pAnchor->getAttribute(attributeName, 0, &href);
    // A text that the document did not read comes back as none, so it is no page number.
    pAnchor->get_innerText(&text);
    if (href->vt != VT_BSTR || !href->bstrVal)
        return anchor;
    LPCWSTR address = href->bstrVal;
    if (IsToneLink(address))
        anchor.kind = CWalkedAnchor::Kind::Tone;
    else if (IsPageLink(address, text.get()))
        anchor.kind = CWalkedAnchor::Kind::Page;
    else
        return anchor;
    anchor.szAddress = address;
    return anchor;
}

// The address of anchor i when it is a numbered page link (and no tone link), in href; its
// text is read first, so that other anchors cost no address.
bool ReadPageLink(IHTMLElementCollection* pAnchors, LONG i, BSTR attributeName, CVariant& href) {
    const CComPtr<IHTMLElement> pAnchor = AnchorAt(pAnchors, i);
    CBstr text;
    if (!pAnchor || (pAnchor->get_innerText(&text), !IsAllDigits(text.get())))
        return false;
    pAnchor->getAttribute(attributeName, 0, &href);
    return href->vt == VT_BSTR && href->bstrVal && !IsToneLink(href->bstrVal) &&
           IsPageLink(href->bstrVal, text.get());
}

// The page being walked, known to the engine for as long as its walk runs.
template <class Page> class CWalkedPageScope {
public:
    CWalkedPageScope(Page*& current, Page& page) : m_current(current) { m_current = &page; }
    ~CWalkedPageScope() { m_current = m_current->pParent; }
    CWalkedPageScope(const CWalkedPageScope&) = delete;
    CWalkedPageScope& operator=(const CWalkedPageScope&) = delete;

private:
    Page*& m_current;
};

// The page's walk, known to the look ahead for as long as it runs, however it ends.
class CWalkScope {
public:
    CWalkScope(CFetchAhead& ahead, CWalkFrame& frame) : m_ahead(ahead) { m_ahead.Push(frame); }
    ~CWalkScope() { m_ahead.Pop(); }
    CWalkScope(const CWalkScope&) = delete;
    CWalkScope& operator=(const CWalkScope&) = delete;

private:
    CFetchAhead& m_ahead;
};

} // namespace

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

    // The look ahead reads the anchors past the walk's as it needs them.
    CBstr attributeName(u"href");
    CWalkFrame frame;
    frame.nAnchors = static_cast<size_t>(nAnchors);
    frame.read = [&](size_t i) {
        return ReadAnchor(pAnchors.get(), static_cast<LONG>(i), attributeName.get());
    };
    CWalkScope scope(m_fetchAhead, frame);
    LONG i = 0;
    CWalkedPage page{pAnchors.get(), attributeName.get(), nAnchors, &i, m_pWalkedPage};
    const CWalkedPageScope walkedPage(m_pWalkedPage, page);

    // The same for every anchor of the page, so made once; a page crawled from here in
    // between shows its own status, and the next anchor puts this one back.
    WCHAR szStatus[1024];
    wnsprintf(szStatus, 1024, u"Walking links on\r\n%s", url);
    for (; i < nAnchors; ++i) {
        if (m_pProgress->m_bCancel) {
            m_fetchAhead.Stop();
            break;
        }

        m_pProgress->SetPageStatus(szStatus);

        const CWalkedAnchor anchor = frame.read(static_cast<size_t>(i));
        if (anchor.kind == CWalkedAnchor::Kind::Other)
            continue;
        frame.nNext = static_cast<size_t>(i);
        m_fetchAhead.Advance(m_visited);
        if (anchor.kind == CWalkedAnchor::Kind::Tone)
            DownloadTone(anchor.szAddress.c_str(), 2);
        else
            CrawlPage(anchor.szAddress.c_str());
    }
}

void CCrawlEngine::SeePageLinksAhead() {
    CWalkedPage* page = m_pWalkedPage;
    if (!page || std::exchange(page->bSeenAhead, true))
        return;
    const int nKnownBefore = m_outcome.m_nPagesKnown;
    for (LONG i = *page->pnCurrent + 1; i < page->nAnchors; ++i) {
        CVariant href;
        if (!ReadPageLink(page->pAnchors, i, page->attributeName, href) ||
            m_known.Contains(href->bstrVal))
            continue;
        m_known.Add(href->bstrVal);
        ++m_outcome.m_nPagesKnown;
    }
    if (m_outcome.m_nPagesKnown != nKnownBefore)
        Tell({.m_kind = CCrawlEvent::kPagesKnown,
              .m_nPagesWalked = m_outcome.m_nPagesWalked,
              .m_nPagesKnown = m_outcome.m_nPagesKnown});
}
