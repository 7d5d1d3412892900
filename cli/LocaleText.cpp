#include "cli/LocaleText.h"

#include "platform/text/text.h"
#include "platform/text/text_utf8.h"

#include <climits>
#include <clocale>
#include <cwchar>
#include <limits>

namespace {

constexpr char kUnshowable = '?';
constexpr size_t kUnlimited = std::numeric_limits<size_t>::max();

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// One character in the locale's encoding, or nothing when it has none.
std::string Encoded(char32_t c, std::mbstate_t& state) {
    char bytes[MB_LEN_MAX];
    const size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(c), &state);
    if (n == static_cast<size_t>(-1)) {
        state = std::mbstate_t{};
        return {};
    }
    return std::string(bytes, n);
}

} // namespace

void UseLocaleOfEnvironment() {
    std::setlocale(LC_ALL, "");
    // Numbers the program and its libraries write and read (the record, the transfers) keep
    // the form they are written in everywhere.
    std::setlocale(LC_NUMERIC, "C");
}

std::u16string ArgumentText(std::string_view bytes) {
    std::u16string text;
    std::mbstate_t state{};
    size_t pos = 0;
    while (pos < bytes.size()) {
        wchar_t c = 0;
        const size_t n = std::mbrtowc(&c, bytes.data() + pos, bytes.size() - pos, &state);
        if (n != 0 && n <= bytes.size() - pos) {
            utf8::AppendUtf16(text, static_cast<char32_t>(c));
            pos += n;
            continue;
        }
        // Not in the locale's encoding (or a NUL, which an argument cannot hold).
        state = std::mbstate_t{};
        char32_t codePoint = 0;
        if (utf8::DecodeOne(bytes, pos, &codePoint))
            utf8::AppendUtf16(text, codePoint);
        else
            text += FromNativeName(bytes.substr(pos++, 1));
    }
    return text;
}

std::u16string UrlArgument(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::u16string url;
    for (char16_t unit : ArgumentText(bytes)) {
        if (const int byte = NativeByteOf(unit); byte >= 0) {
            url += u'%';
            url += static_cast<char16_t>(kHex[byte >> 4]);
            url += static_cast<char16_t>(kHex[byte & 0xF]);
        } else {
            url += unit;
        }
    }
    return url;
}

std::u16string FolderArgumentText(std::string_view bytes) {
    return FromNativeName(bytes);
}

std::string OutputText(std::u16string_view text) {
    return OutputText(text, kUnlimited);
}

std::string OutputText(std::u16string_view text, size_t columns) {
    std::string out;
    std::mbstate_t state{};
    size_t used = 0;
    for (size_t i = 0; i < text.size();) {
        std::string shown(1, kUnshowable);
        int width = 1;
        if (const int byte = NativeByteOf(text[i]); byte >= 0) {
            shown[0] = static_cast<char>(byte);
            ++i;
        } else if (const char32_t c = utf16::NextCodePoint(text, i); !IsControl(c)) {
            const int cells = ::wcwidth(static_cast<wchar_t>(c));
            std::string encoded = cells >= 0 ? Encoded(c, state) : std::string();
            if (!encoded.empty()) {
                shown = std::move(encoded);
                width = cells;
            }
        }
        if (used + static_cast<size_t>(width) > columns)
            break;
        used += static_cast<size_t>(width);
        out += shown;
    }
    return out;
}

std::string OutputFileName(std::u16string_view name) {
    std::u16string shown(name);
    for (char16_t& unit : shown) {
        if (IsControl(unit))
            unit = kUnshowable;
    }
    return ToNativeName(shown);
}
