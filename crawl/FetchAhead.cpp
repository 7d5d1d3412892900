// Looking ahead of the walk: which addresses it will ask for next, in its own order.
#include "crawl/FetchAhead.h"

#include "platform/html/mshtml.h"
#include "platform/net/urlmon.h"
#include "platform/text/text.h"

#include <utility>

void CFetchAhead::Start(int n, CToneHeaders toneHeaders) {
    m_nLimit = n < 1 ? 1 : static_cast<size_t>(n);
    m_toneHeaders = std::move(toneHeaders);
    m_bStopped = false;
    m_frames.clear();
    m_list.clear();
    SetMaxConnections(static_cast<int>(m_nLimit));
}

void CFetchAhead::Push(CWalkFrame& frame) {
    frame.nSerial = m_nNextSerial++;
    m_frames.push_back(&frame);
}

void CFetchAhead::Pop() {
    if (!m_frames.empty())
        m_frames.pop_back();
    if (m_frames.empty())
        Stop(); // the crawl is over
}

void CFetchAhead::Stop() {
    m_bStopped = true;
    if (m_list.empty())
        return;
    m_list.clear();
    SetUpcomingBinds({});
}

void CFetchAhead::Advance(const UrlSet& visited) {
    if (m_nLimit <= 1 || m_bStopped || m_frames.empty())
        return;
    bool bChanged = false;
    while (!m_list.empty() && IsPassed(m_list.front())) {
        m_list.pop_front();
        bChanged = true;
    }
    bChanged |= Scan(visited);
    if (bChanged)
        Tell();
}

bool CFetchAhead::IsPassed(const CEntry& entry) const {
    // Below the top page, the anchor the walk stands on is the page being walked above.
    if (entry.nDepth >= m_frames.size())
        return true;
    const CWalkFrame& frame = *m_frames[entry.nDepth];
    if (frame.nSerial != entry.nSerial)
        return true;
    const bool bTop = entry.nDepth + 1 == m_frames.size();
    return bTop ? entry.nIndex < frame.nNext : entry.nIndex <= frame.nNext;
}

bool CFetchAhead::IsListed(LPCWSTR address) const {
    // Equal as the visited set takes it: the walk asks once for both.
    const uint32_t bucket = UrlSet::Bucket(address);
    for (const CEntry& entry : m_list) {
        if (UrlSet::Bucket(entry.szAddress.c_str()) == bucket &&
            StrCmpI(entry.szAddress.c_str(), address) == 0)
            return true;
    }
    return false;
}

bool CFetchAhead::Scan(const UrlSet& visited) {
    bool bAdded = false;
    // Nothing is known beyond a page the walk will load: its own anchors come first.
    for (size_t depth = m_frames.size(); depth-- > 0;) {
        if (m_list.size() >= m_nLimit || (!m_list.empty() && m_list.back().bPage))
            break;
        CWalkFrame& frame = *m_frames[depth];
        const bool bTop = depth + 1 == m_frames.size();
        const size_t nFirst = bTop ? frame.nNext : frame.nNext + 1;
        if (frame.nScanned < nFirst)
            frame.nScanned = nFirst;
        while (frame.nScanned < frame.nAnchors && m_list.size() < m_nLimit) {
            const CWalkedAnchor anchor = frame.read(frame.nScanned++);
            if (anchor.kind == CWalkedAnchor::Kind::Other)
                continue;
            LPCWSTR address = anchor.szAddress.c_str();
            if (visited.Contains(address) || IsListed(address))
                continue;
            const bool bPage = anchor.kind == CWalkedAnchor::Kind::Page;
            // Asked once, when listed: the record's answer for an address the walk has not
            // reached cannot change before it gets there.
            std::u16string szHeaders =
                bPage || !m_toneHeaders ? std::u16string() : m_toneHeaders(address);
            m_list.push_back(CEntry{anchor.szAddress, std::move(szHeaders), bPage, depth,
                                    frame.nSerial, frame.nScanned - 1});
            bAdded = true;
            if (bPage)
                break;
        }
        if (frame.nScanned < frame.nAnchors)
            break; // the next look goes on here
    }
    return bAdded;
}

void CFetchAhead::Tell() {
    std::vector<UpcomingBind> upcoming;
    upcoming.reserve(m_list.size());
    const uint64_t pageLimit = GetPageReadLimit();
    for (const CEntry& entry : m_list)
        upcoming.push_back(
            UpcomingBind{entry.szAddress, entry.szHeaders, entry.bPage ? pageLimit : 0});
    SetUpcomingBinds(std::move(upcoming));
}
