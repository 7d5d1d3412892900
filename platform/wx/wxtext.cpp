#include "platform/wx/wxtext.h"

namespace {
constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
} // namespace

wxString ToWx(std::u16string_view text) {
    std::u32string points;
    points.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            points.push_back(0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            points.push_back(kReplacement);
        } else {
            points.push_back(c);
        }
    }
    wxString result;
    result.reserve(points.size());
    for (char32_t cp : points)
        result += wxUniChar(static_cast<wxUint32>(cp));
    return result;
}

std::u16string FromWx(const wxString& text) {
    std::u16string result;
    result.reserve(text.length());
    for (wxUniChar ch : text) {
        char32_t cp = ch.GetValue();
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            result.push_back(static_cast<char16_t>(kReplacement));
        } else {
            result.push_back(static_cast<char16_t>(cp));
        }
    }
    return result;
}
