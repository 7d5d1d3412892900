#include "platform/html/html_anchors.h"

#include <algorithm>

bool HtmlAnchorList::Add(std::optional<std::u16string_view> href,
                         std::optional<std::u16string_view> text, bool textRead) {
    if (!textRead)
        text.reset();
    size_t shared = 0;
    if (href) {
        const size_t most = std::min(href->size(), m_reference.size());
        while (shared < most && (*href)[shared] == m_reference[shared])
            ++shared;
    }
    const size_t rest = href ? href->size() - shared : 0;
    const size_t textUnits = text ? text->size() : 0;
    // Every count, and the end of the buffer, must stay below kUnread.
    if (m_units.size() + rest + textUnits >= kUnread)
        return false;

    Entry entry{static_cast<uint32_t>(m_units.size()),
                href ? static_cast<uint32_t>(shared) : kAbsent, static_cast<uint32_t>(rest),
                text       ? static_cast<uint32_t>(textUnits)
                : textRead ? kAbsent
                           : kUnread};
    if (href)
        m_units.append(href->substr(shared));
    if (text)
        m_units.append(*text);
    m_entries.push_back(entry);
    return true;
}

void HtmlAnchorList::ShrinkToFit() {
    m_entries.shrink_to_fit();
    m_units.shrink_to_fit();
}

size_t HtmlAnchorList::HrefLength(size_t i) const {
    const Entry& entry = m_entries[i];
    return entry.shared == kAbsent ? 0 : size_t(entry.shared) + entry.rest;
}

void HtmlAnchorList::CopyHref(size_t i, char16_t* out) const {
    const Entry& entry = m_entries[i];
    if (entry.shared == kAbsent)
        return;
    out = std::copy_n(m_reference.data(), entry.shared, out);
    std::copy_n(m_units.data() + entry.start, entry.rest, out);
}

std::optional<std::u16string_view> HtmlAnchorList::Text(size_t i) const {
    const Entry& entry = m_entries[i];
    if (entry.text == kAbsent || entry.text == kUnread)
        return std::nullopt;
    return std::u16string_view(m_units).substr(size_t(entry.start) + entry.rest, entry.text);
}

HtmlAnchor HtmlAnchorList::operator[](size_t i) const {
    HtmlAnchor anchor;
    if (HasHref(i)) {
        anchor.href.emplace(HrefLength(i), u'\0');
        CopyHref(i, anchor.href->data());
    }
    if (const auto text = Text(i))
        anchor.text.emplace(*text);
    return anchor;
}
