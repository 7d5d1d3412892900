// What the walk will ask for next, told to the download service so that it can start those
// transfers early. The walk itself stays sequential: only the waiting for round trips
// overlaps. Everything told is certain to be asked for (Cancel and stops aside): the walk's
// pages in order, each page's anchors from where the walk stands, up to and including the
// first page link it will load, since what that page links to is not known yet.
#pragma once

#include "crawl/UrlSet.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// One anchor of a walked page as the walk classifies it.
struct CWalkedAnchor {
    enum class Kind { Other, Tone, Page };
    Kind kind = Kind::Other;
    std::u16string szAddress;
};

// A page being walked: its anchors, and where the walk and the look ahead stand in them.
// Anchors are read from the page's document when they are looked at, not copied up front:
// a deep crawl keeps a frame on every level, and copies of every address of every page on
// the way down would cost far more memory than the documents hold them in.
struct CWalkFrame {
    size_t nAnchors = 0;
    std::function<CWalkedAnchor(size_t index)> read;
    size_t nNext = 0;    // the anchor the walk handles now
    size_t nScanned = 0; // anchors before this one have been looked at ahead
    uint64_t nSerial = 0;
};

class CFetchAhead {
public:
    // No page is being walked: the next page loaded starts a crawl.
    bool IsIdle() const { return m_frames.empty(); }
    // The extra request headers the walk's own request for a tone will carry.
    using CToneHeaders = std::function<std::u16string(LPCWSTR url)>;

    // At most n requests told at a time (the service's limit of transfers); 1 tells nothing.
    // Each tone told carries toneHeaders(url), so that the walk's request takes it over.
    void Start(int n, CToneHeaders toneHeaders);
    // A page's anchors are known: its walk begins.
    void Push(CWalkFrame& frame);
    // The walk of the top page is over.
    void Pop();
    // The walk is about to handle the top page's anchor nNext: tells the service what comes
    // from there on, when that has changed.
    void Advance(const UrlSet& visited);
    // Cancel or a stop: every transfer ahead ends and nothing more is told.
    void Stop();

private:
    struct CEntry {
        std::u16string szAddress;
        std::u16string szHeaders;
        bool bPage;
        size_t nDepth;
        uint64_t nSerial;
        size_t nIndex;
    };

    bool IsPassed(const CEntry& entry) const;
    bool IsListed(LPCWSTR address) const;
    // Looks further from where the last look ended; false when nothing was added.
    bool Scan(const UrlSet& visited);
    void Tell();

    std::vector<CWalkFrame*> m_frames;
    std::deque<CEntry> m_list;
    CToneHeaders m_toneHeaders;
    size_t m_nLimit = 1;
    uint64_t m_nNextSerial = 1;
    bool m_bStopped = false;
};
