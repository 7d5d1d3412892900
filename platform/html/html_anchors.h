// The anchors a document keeps: each anchor's resolved address and rendered text, packed into
// one buffer of UTF-16 units with a small fixed entry per anchor. A crawl keeps the anchors of
// every page on its way down, so their size is what a nesting level costs. Links on a page
// mostly differ from the page's own address only in their last few characters, so an address
// is kept as the length it shares with a reference address (the page's base) and the rest.
#pragma once

#include "platform/html/html_page_cut.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One <a> element of the page, as plain strings.
struct HtmlAnchor {
    std::optional<std::u16string> href; // resolved against the document's base; absent: no href
    std::optional<std::u16string> text; // rendered text; absent: the element has no child nodes
};

class HtmlAnchorList {
public:
    explicit HtmlAnchorList(std::u16string reference = {}) : m_reference(std::move(reference)) {}

    // Adds an anchor at the end; absent parts stay absent. textRead false: the anchor has text
    // that was not read (it is neither absent nor empty, and text is not looked at). False when
    // the list cannot hold it (more than four billion units in all).
    bool Add(std::optional<std::u16string_view> href, std::optional<std::u16string_view> text,
             bool textRead = true);
    // Gives back the room kept for anchors still to come.
    void ShrinkToFit();

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }

    bool HasHref(size_t i) const { return m_entries[i].shared != kAbsent; }
    // The address's length in units; 0 when it has none.
    size_t HrefLength(size_t i) const;
    // Writes the address's HrefLength(i) units to out.
    void CopyHref(size_t i, char16_t* out) const;
    // Nothing for an anchor without text, and for one whose text was not read.
    std::optional<std::u16string_view> Text(size_t i) const;
    bool TextRead(size_t i) const { return m_entries[i].text != kUnread; }

    // Whether the list holds all the anchors of its page, whole.
    PageCut Cut() const { return m_cut; }
    void MarkCut(PageCut cut) { m_cut = std::max(m_cut, cut); }

    // The anchor as plain strings.
    HtmlAnchor operator[](size_t i) const;

    class Iterator {
    public:
        Iterator(const HtmlAnchorList& list, size_t i) : m_list(&list), m_i(i) {}
        HtmlAnchor operator*() const { return (*m_list)[m_i]; }
        Iterator& operator++() {
            ++m_i;
            return *this;
        }
        bool operator==(const Iterator& other) const = default;

    private:
        const HtmlAnchorList* m_list;
        size_t m_i;
    };
    Iterator begin() const { return {*this, 0}; }
    Iterator end() const { return {*this, size()}; }

private:
    static constexpr uint32_t kAbsent = UINT32_MAX;
    static constexpr uint32_t kUnread = UINT32_MAX - 1; // for text only
    struct Entry {
        uint32_t start;  // where the address's rest begins in m_units; the text follows it
        uint32_t shared; // units of the reference that begin the address; kAbsent: no href
        uint32_t rest;   // units of the address after those
        uint32_t text;   // units of text; kAbsent: no text; kUnread: text not read
    };

    std::u16string m_reference;
    std::vector<Entry> m_entries;
    std::u16string m_units;
    PageCut m_cut = PageCut::None;
};
