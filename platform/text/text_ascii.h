// ASCII white space, and ASCII case-insensitive comparison, for the names of protocols and
// markup (schemes, header and parameter names, tags, attributes, charset labels): these fold
// only A-Z, whatever the locale, and never letters beyond ASCII (the Kelvin sign is not a
// 'K'). Inline: they run for every header line, tag and anchor.
#pragma once

#include <string_view>

// The white space of markup, addresses and labels: space, tab, LF, FF and CR.
constexpr bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

template <typename Char> constexpr Char ToLowerAscii(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c + ('a' - 'A')) : c;
}

namespace ascii_detail {

template <typename Char>
constexpr bool EqualsIgnoreCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (ToLowerAscii(a[i]) != ToLowerAscii(b[i]))
            return false;
    }
    return true;
}

} // namespace ascii_detail

constexpr bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    return ascii_detail::EqualsIgnoreCase(a, b);
}
constexpr bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    return ascii_detail::EqualsIgnoreCase(a, b);
}

constexpr bool StartsWithIgnoreAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}
