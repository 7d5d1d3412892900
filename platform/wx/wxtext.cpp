#include "platform/wx/wxtext.h"
#include "platform/text/text_utf8.h"

namespace {
constexpr char32_t kReplacement = 0xFFFD;
} // namespace

wxString ToWx(std::u16string_view text) {
    std::u32string points;
    points.reserve(text.size());
    for (size_t i = 0; i < text.size();)
        points.push_back(utf16::NextCodePoint(text, i));
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
        const char32_t cp = ch.GetValue();
        utf8::AppendUtf16(result, cp > 0x10FFFF || utf16::IsSurrogate(cp) ? kReplacement : cp);
    }
    return result;
}
