#include "crawl/StoredName.h"
#include "platform/files/files.h"
#include "platform/text/text.h"
#include "platform/text/text_utf8.h"

#include <string>

namespace {

// Most file systems hold names of up to 255 bytes.
constexpr size_t kMaxNameBytes = 255;

bool IsForbidden(char16_t c, bool folderRefusesReserved) {
    return c < 0x20 || c == 0x7F || c == u'/' || c == u'\\' ||
           (folderRefusesReserved && kReservedNameCharacters.find(c) != std::u16string::npos);
}

void ReplaceTrailingDotsAndBlanks(std::u16string& text) {
    for (auto c = text.rbegin(); c != text.rend() && (*c == u'.' || *c == u' '); ++c)
        *c = u'_';
}

// Drops whole characters from the end of text until it fits in maxBytes of UTF-8.
void ShortenTo(std::u16string& text, size_t maxBytes) {
    while (!text.empty() && Utf8Length(text) > maxBytes) {
        bool lowSurrogate = utf16::IsLowSurrogate(text.back());
        text.pop_back();
        if (lowSurrogate && !text.empty() && utf16::IsHighSurrogate(text.back()))
            text.pop_back();
    }
}

} // namespace

bool MakeStorableName(LPWSTR name, bool folderRefusesReserved) {
    std::u16string text(name);
    for (char16_t& c : text) {
        if (IsForbidden(c, folderRefusesReserved))
            c = u'_';
    }
    if (text.empty() || text == u"." || text == u"..")
        return false;
    if (text.front() == u'.')
        text.front() = u'_';

    if (Utf8Length(text) > kMaxNameBytes) {
        std::u16string extension(PathFindExtension(text.c_str()));
        if (Utf8Length(extension) > kMaxNameBytes / 2)
            extension.clear();
        std::u16string base = text.substr(0, text.size() - extension.size());
        ShortenTo(base, kMaxNameBytes - Utf8Length(extension));
        if (base.empty())
            return false;
        text = base + extension;
    }
    if (folderRefusesReserved)
        ReplaceTrailingDotsAndBlanks(text);
    StrCpyN(name, text.c_str(), static_cast<int>(text.size() + 1));
    return true;
}

std::u16string NumberedName(std::u16string_view name, int n, size_t maxUnits) {
    const std::u16string text(name);
    const std::u16string extension(PathFindExtension(text.c_str()));
    std::u16string base = text.substr(0, text.size() - extension.size());
    const std::u16string suffix = u"[" + FromUtf8(std::to_string(n)) + u"]" + extension;
    if (suffix.size() >= maxUnits)
        return {};
    if (base.size() > maxUnits - suffix.size())
        base.resize(maxUnits - suffix.size());
    if (!base.empty() && utf16::IsHighSurrogate(base.back()))
        base.pop_back(); // never half a character
    const size_t suffixBytes = Utf8Length(suffix);
    if (suffixBytes >= kMaxNameBytes)
        return {};
    ShortenTo(base, kMaxNameBytes - suffixBytes);
    if (base.empty())
        return {};
    return base + suffix;
}
