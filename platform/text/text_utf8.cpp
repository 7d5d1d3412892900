// UTF-8 <-> UTF-16 for the edges of the program, and the strict single-sequence decoder.
#include "platform/text/text_utf8.h"
#include "platform/text/text.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

} // namespace

namespace utf8 {

void AppendUtf8(std::string& out, char32_t cp) {
    char form[4];
    out.append(form, WriteUtf8(form, cp));
}

bool DecodeOne(std::string_view text, size_t& pos, char32_t* codePoint) {
    if (pos >= text.size())
        return false;
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        *codePoint = lead;
        ++pos;
        return true;
    }
    // The smallest value each length may carry rules out overlong forms.
    int trail = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return false; // continuation byte, 0xC0/0xC1, or 0xF5 and above
    }
    if (text.size() - pos <= static_cast<size_t>(trail))
        return false;
    for (int i = 1; i <= trail; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if (!IsContinuation(byte))
            return false;
        cp = (cp << 6) | (byte & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || utf16::IsSurrogate(cp))
        return false;
    *codePoint = cp;
    pos += trail + 1;
    return true;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

} // namespace utf8

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] < 0x80) { // paths and addresses are mostly ASCII
            out += static_cast<char>(text[i++]);
            continue;
        }
        utf8::AppendUtf8(out, utf16::NextCodePoint(text, i));
    }
    return out;
}

size_t Utf8Length(std::u16string_view text) {
    size_t bytes = 0;
    for (size_t i = 0; i < text.size();)
        bytes += utf8::EncodedSize(utf16::NextCodePoint(text, i));
    return bytes;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    AppendFromUtf8(out, text);
    return out;
}

void AppendFromUtf8(std::u16string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            out += static_cast<char16_t>(text[pos++]);
            continue;
        }
        char32_t cp = 0;
        if (utf8::DecodeOne(text, pos, &cp)) {
            utf8::AppendUtf16(out, cp);
        } else {
            // One replacement per malformed byte keeps the scan simple and always moving.
            out += static_cast<char16_t>(kReplacement);
            ++pos;
        }
    }
}

int NativeByteOf(char16_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF ? unit - 0xDC00 : -1;
}

std::u16string FromNativeName(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        char32_t cp = 0;
        if (utf8::DecodeOne(bytes, pos, &cp))
            utf8::AppendUtf16(out, cp);
        else
            out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[pos++]));
    }
    return out;
}

std::string ToNativeName(std::u16string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        // A surrogate pair starts with its high half, so a low one met here stands alone.
        if (const int byte = NativeByteOf(name[i]); byte >= 0) {
            out += static_cast<char>(byte);
            ++i;
        } else {
            utf8::AppendUtf8(out, utf16::NextCodePoint(name, i));
        }
    }
    return out;
}
