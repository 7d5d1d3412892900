// Cache file names: sanitising a server's name, decorating it and fitting it into the limits.
#include "platform/net/cache_names.h"

#include "platform/text/text.h"
#include "platform/text/text_utf8.h"

#include <optional>

namespace cache {

namespace {

using utf16::IsHighSurrogate;
using utf16::IsLowSurrogate;

// Units of the code point that starts at i (a pair counts as one code point).
size_t CodePointUnits(std::u16string_view text, size_t i) {
    return IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
}

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int HexValue(char16_t c) {
    return c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10;
}

bool EscapeAt(std::u16string_view text, size_t i) {
    return i + 2 < text.size() && text[i] == u'%' && IsHex(text[i + 1]) && IsHex(text[i + 2]);
}

// Moves a cut back so that it does not split "%HH", nor the escaped bytes of one UTF-8
// character: a name cut through either would no longer decode.
size_t KeepEscapesWhole(std::u16string_view text, size_t cut) {
    if (cut >= 1 && EscapeAt(text, cut - 1))
        cut -= 1;
    else if (cut >= 2 && EscapeAt(text, cut - 2))
        cut -= 2;
    size_t pos = cut;
    int continuationBytes = 0;
    while (pos >= 3 && EscapeAt(text, pos - 3)) {
        int byte = HexValue(text[pos - 2]) * 16 + HexValue(text[pos - 1]);
        if ((byte & 0xC0) == 0x80) {
            ++continuationBytes;
            pos -= 3;
            continue;
        }
        if (byte >= 0xC0) {
            int needed = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
            if (continuationBytes < needed)
                cut = pos - 3;
        }
        break;
    }
    return cut;
}

// The longest prefix of text within both budgets, cut at a character boundary.
std::u16string CutToFit(std::u16string_view text, size_t maxUnits, size_t maxBytes) {
    size_t units = 0;
    size_t bytes = 0;
    size_t cut = 0;
    while (cut < text.size()) {
        size_t next = cut;
        size_t cpBytes = utf8::EncodedSize(utf16::NextCodePoint(text, next));
        size_t cpUnits = next - cut;
        if (units + cpUnits > maxUnits || bytes + cpBytes > maxBytes)
            break;
        units += cpUnits;
        bytes += cpBytes;
        cut = next;
    }
    if (cut < text.size())
        cut = KeepEscapesWhole(text, cut);
    return std::u16string(text.substr(0, cut));
}

size_t Remaining(size_t budget, size_t used) {
    return budget > used ? budget - used : 0;
}

// The blanks that make a decoded name no name: tab, space, no-break, ideographic and
// zero-width no-break spaces, as the stored name's decoding counts them.
bool IsBlankName(std::u16string_view text) {
    return text.find_first_not_of(u"\t \u00A0\u3000\uFEFF") == std::u16string_view::npos;
}

// The characters that an ASCII base of percent-escaped UTF-8 stands for, as the stored name's
// decoding would give them: every "%HH" decoded, the bytes valid UTF-8 with at least one
// multi-byte character. Nothing for any other base, and nothing when what it stands for
// holds an escape again (decoding that would decode twice) or only blanks.
std::optional<std::u16string> DecodedEscapedUtf8(std::u16string_view base) {
    std::string bytes;
    for (size_t i = 0; i < base.size(); ++i) {
        if (base[i] >= 0x80)
            return std::nullopt;
        if (EscapeAt(base, i)) {
            bytes += static_cast<char>(HexValue(base[i + 1]) * 16 + HexValue(base[i + 2]));
            i += 2;
        } else {
            bytes += static_cast<char>(base[i]);
        }
    }
    std::u16string decoded;
    bool multiByte = false;
    for (size_t pos = 0; pos < bytes.size();) {
        char32_t codePoint = 0;
        if (bytes[pos] == 0 || !utf8::DecodeOne(bytes, pos, &codePoint))
            return std::nullopt;
        multiByte = multiByte || codePoint >= 0x80;
        utf8::AppendUtf16(decoded, codePoint);
    }
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (EscapeAt(decoded, i))
            return std::nullopt;
    }
    if (!multiByte || IsBlankName(decoded))
        return std::nullopt;
    return decoded;
}

} // namespace

std::u16string SafeFileName(std::u16string_view name) {
    std::u16string safe;
    safe.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (IsHighSurrogate(c) && CodePointUnits(name, i) == 2) {
            safe += c;
            safe += name[++i];
            continue;
        }
        bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        bool separator = c == u'/' || c == u'\\';
        bool strayHalf = IsHighSurrogate(c) || IsLowSurrogate(c);
        safe += control || separator || strayHalf ? u'_' : c;
    }
    if (safe.empty() || safe == u"." || safe == u"..")
        return std::u16string(kFallbackName);
    return safe;
}

std::u16string CacheName(std::u16string_view serverName, size_t maxUnits, size_t maxBytes) {
    std::u16string name = SafeFileName(serverName);
    constexpr std::u16string_view kFirstDecoration = u"[1]";
    if (name.size() + kFirstDecoration.size() <= maxUnits &&
        Utf8Length(name) + kFirstDecoration.size() <= maxBytes)
        return name;
    // Three units per byte of a character beyond ASCII: a long name of such characters does
    // not fit escaped, though the name it stands for does.
    const size_t extensionStart =
        static_cast<size_t>(PathFindExtension(name.c_str()) - name.c_str());
    std::optional<std::u16string> decoded =
        DecodedEscapedUtf8(std::u16string_view(name).substr(0, extensionStart));
    if (!decoded)
        return name;
    return SafeFileName(*decoded + name.substr(extensionStart));
}

std::u16string DecoratedFileName(std::u16string_view name, unsigned n, size_t maxUnits,
                                 size_t maxBytes) {
    std::u16string whole(name);
    size_t extensionStart = static_cast<size_t>(PathFindExtension(whole.c_str()) - whole.c_str());
    std::u16string base = whole.substr(0, extensionStart);
    std::u16string extension = whole.substr(extensionStart);
    // "[1].l6t" would not lose its decoration again; give such a name a base.
    if (base.empty())
        base = kFallbackName;

    std::string number = std::to_string(n);
    std::u16string decoration = u"[" + std::u16string(number.begin(), number.end()) + u"]";
    if (decoration.size() > maxUnits || decoration.size() > maxBytes)
        return {};

    size_t unitsLeft = maxUnits - decoration.size();
    size_t bytesLeft = maxBytes - decoration.size();
    if (base.size() + extension.size() > unitsLeft ||
        Utf8Length(base) + Utf8Length(extension) > bytesLeft) {
        if (extension.size() > kMaxExtensionUnits)
            extension = CutToFit(extension, kMaxExtensionUnits, kMaxExtensionUnits * 4);
        extension = CutToFit(extension, unitsLeft, bytesLeft);
        base = CutToFit(base, Remaining(unitsLeft, extension.size()),
                        Remaining(bytesLeft, Utf8Length(extension)));
    }
    return base + decoration + extension;
}

} // namespace cache
