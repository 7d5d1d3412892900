// Encoding detection and decoding for HTML pages.
#include "platform/html/html_charset.h"
#include "platform/html/html_iconv.h"
#include "platform/pump/pump.h"
#include "platform/text/text_ascii.h"
#include "platform/text/text_utf8.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

std::string_view TrimAsciiSpace(std::string_view text) {
    while (!text.empty() && IsAsciiSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsAsciiSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

constexpr char32_t kReplacement = 0xFFFD;

// A pass over a large page takes tens of milliseconds: every so many bytes it lets the window
// (or a signal) be heard, and it ends early when the work is abandoned, its result to be
// thrown away (see KeepResponsive).
constexpr size_t kBytesPerTurn = 64u << 10;
class PassTurns {
public:
    // True when the pass, now at pos, is to end.
    bool Abandoned(size_t pos) {
        if (pos < m_next)
            return false;
        m_next = pos + kBytesPerTurn;
        return KeepResponsive(kBytesPerTurn);
    }

private:
    size_t m_next = kBytesPerTurn;
};

// Appends count U+FFFD: a run of bad bytes is written at once, not a character at a time.
void AppendReplacements(std::string& out, size_t count) {
    static constexpr char kForm[] = "\xEF\xBF\xBD";
    const size_t at = out.size();
    out.resize(at + count * 3);
    for (char* p = out.data() + at; count != 0; --count, p += 3)
        std::memcpy(p, kForm, 3);
}

// Writes each byte through high (the characters of the bytes 0x80-0xFF; ASCII stands for
// itself) into a buffer of the exact size, counted first.
std::string DecodeByTable(std::string_view bytes, const std::array<char32_t, 128>& high) {
    PassTurns turns;
    size_t size = 0;
    for (size_t pos = 0; pos < bytes.size(); ++pos) {
        const auto b = static_cast<uint8_t>(bytes[pos]);
        size += b < 0x80 ? 1 : utf8::EncodedSize(high[b - 0x80]);
    }
    std::string out(size, '\0');
    char* end = out.data();
    for (size_t pos = 0; pos < bytes.size(); ++pos) {
        if (turns.Abandoned(pos))
            return {};
        const auto b = static_cast<uint8_t>(bytes[pos]);
        if (b < 0x80)
            *end++ = bytes[pos];
        else
            end = utf8::WriteUtf8(end, high[b - 0x80]);
    }
    return out;
}

// ---- UTF-8 input ----

// The length of the well-formed UTF-8 sequence at pos, or 0 when the bytes there are not one;
// *consumed then holds the length of the maximal malformed part (at least 1), which stands for
// one U+FFFD.
size_t Utf8SequenceAt(std::string_view bytes, size_t pos, size_t* consumed) {
    const auto byteAt = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byteAt(pos);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    if (lead < 0x80) {
        *consumed = 1;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        *consumed = 1;
        return 0;
    }
    size_t i = 1;
    for (; i < length && pos + i < bytes.size(); ++i) {
        const uint8_t b = byteAt(pos + i);
        if (b < low || b > high)
            break;
        low = 0x80;
        high = 0xBF;
    }
    *consumed = i;
    return i == length ? length : 0;
}

// Well-formed runs are copied whole: most pages are one such run.
std::string DecodeUtf8(std::string_view bytes) {
    PassTurns turns;
    std::string out;
    out.reserve(bytes.size());
    size_t run = 0, pos = 0;
    while (pos < bytes.size()) {
        if (turns.Abandoned(pos))
            return {};
        if (static_cast<uint8_t>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        size_t consumed = 0;
        if (Utf8SequenceAt(bytes, pos, &consumed) == 0) {
            out.append(bytes.substr(run, pos - run));
            AppendReplacements(out, 1);
            run = pos + consumed;
        }
        pos += consumed;
    }
    out.append(bytes.substr(run));
    return out;
}

// ---- UTF-16 input ----

// Written straight into a buffer sized for the worst case: a unit takes at most three bytes in
// UTF-8 and a surrogate pair four, and an odd byte at the end is a U+FFFD.
std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out(bytes.size() / 2 * 3 + 3, '\0');
    char* end = out.data();
    const auto unitAt = [&](size_t i) -> char16_t {
        const auto b0 = static_cast<uint8_t>(bytes[i]), b1 = static_cast<uint8_t>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (b0 << 8 | b1) : (b1 << 8 | b0));
    };
    PassTurns turns;
    size_t pos = 0;
    while (pos + 1 < bytes.size()) {
        if (turns.Abandoned(pos))
            return {};
        const char16_t unit = unitAt(pos);
        pos += 2;
        if (utf16::IsHighSurrogate(unit) && pos + 1 < bytes.size()) {
            const char16_t next = unitAt(pos);
            if (utf16::IsLowSurrogate(next)) {
                pos += 2;
                end = utf8::WriteUtf8(end, utf16::Combine(unit, next));
                continue;
            }
        }
        end = utf8::WriteUtf8(end, utf16::IsSurrogate(unit) ? kReplacement : char32_t(unit));
    }
    if (pos < bytes.size()) // an odd byte at the end
        end = utf8::WriteUtf8(end, kReplacement);
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

// ---- Windows-1252 input ----

constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char32_t, 128> Windows1252High() {
    std::array<char32_t, 128> high{};
    for (size_t i = 0; i < high.size(); ++i)
        high[i] = i < kWindows1252High.size() ? kWindows1252High[i] : char32_t(0x80 + i);
    return high;
}

std::string DecodeWindows1252(std::string_view bytes) {
    static constexpr std::array<char32_t, 128> kHigh = Windows1252High();
    return DecodeByTable(bytes, kHigh);
}

// ---- Other encodings ----

// x-user-defined: ASCII, and the other bytes in a private-use block of their own.
constexpr std::array<char32_t, 128> XUserDefinedHigh() {
    std::array<char32_t, 128> high{};
    for (size_t i = 0; i < high.size(); ++i)
        high[i] = char32_t(0xF780 + i);
    return high;
}

std::string DecodeXUserDefined(std::string_view bytes) {
    static constexpr std::array<char32_t, 128> kHigh = XUserDefinedHigh();
    return DecodeByTable(bytes, kHigh);
}

// The bytes that the converter refuses as the first byte of a character on the byte alone.
// They are refused whatever follows them, so a run of them needs no call to the converter.
std::array<bool, 256> BytesThatStartNothing(const char* converterName) {
    std::array<bool, 256> refused{};
    Iconv probe("UTF-8", converterName);
    std::string scratch;
    for (size_t b = 0; b < refused.size(); ++b) {
        const char byte = static_cast<char>(b);
        std::string_view in(&byte, 1);
        refused[b] = !probe.Convert(in, scratch) && !probe.StoppedAtEnd();
        probe.Flush(scratch); // back to the first state for the next byte
        scratch.clear();
    }
    return refused;
}

// Through the system's converter; nothing when it has none. Each byte that does not convert
// stands for one U+FFFD, and the conversion goes on after it. One pass over the bytes,
// whatever they are: the converter is called again only where it can read something.
std::optional<std::string> DecodeWithConverter(std::string_view bytes, HtmlEncoding encoding) {
    Iconv converter("UTF-8", ConverterName(encoding));
    if (!converter)
        return std::nullopt;
    const std::array<bool, 256> startsNothing = BytesThatStartNothing(ConverterName(encoding));
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    PassTurns turns;
    const size_t total = bytes.size();
    for (;;) {
        if (turns.Abandoned(total - bytes.size()))
            return out;
        // A turn's worth at a time: a character that the slice's end cuts off is read whole at
        // the start of the next slice.
        const bool lastSlice = bytes.size() <= kBytesPerTurn;
        std::string_view slice = bytes.substr(0, kBytesPerTurn);
        const size_t sliceSize = slice.size();
        const bool whole = converter.Convert(slice, out);
        bytes.remove_prefix(sliceSize - slice.size());
        if (bytes.empty())
            break;
        if (whole || (converter.StoppedAtEnd() && !lastSlice))
            continue;
        size_t refused = 1;
        while (refused < bytes.size() && startsNothing[static_cast<uint8_t>(bytes[refused])])
            ++refused;
        AppendReplacements(out, refused);
        bytes.remove_prefix(refused);
    }
    converter.Flush(out);
    return out;
}

// ---- <meta> prescan ----

constexpr size_t kPrescanLength = 1024;

struct Attribute {
    std::string name;
    std::string value;
};

// Reads one attribute of a tag at pos; nothing when the tag ends ('>' or the end of the
// bytes). Names and unquoted values are lower-cased, as the prescan compares them.
std::optional<Attribute> NextAttribute(std::string_view text, size_t& pos) {
    while (pos < text.size() && (IsAsciiSpace(text[pos]) || text[pos] == '/'))
        ++pos;
    if (pos >= text.size() || text[pos] == '>')
        return std::nullopt;
    Attribute attribute;
    for (;; ++pos) {
        if (pos >= text.size())
            return std::nullopt;
        const char c = text[pos];
        if (c == '=' && !attribute.name.empty())
            break;
        if (IsAsciiSpace(c)) {
            while (pos < text.size() && IsAsciiSpace(text[pos]))
                ++pos;
            if (pos >= text.size() || text[pos] != '=')
                return attribute;
            break;
        }
        if (c == '/' || c == '>')
            return attribute;
        attribute.name += ToLowerAscii(c);
    }
    ++pos; // the '='
    while (pos < text.size() && IsAsciiSpace(text[pos]))
        ++pos;
    if (pos >= text.size())
        return std::nullopt;
    if (text[pos] == '"' || text[pos] == '\'') {
        const char quote = text[pos];
        const size_t end = text.find(quote, pos + 1);
        if (end == std::string_view::npos)
            return std::nullopt;
        for (size_t i = pos + 1; i < end; ++i)
            attribute.value += ToLowerAscii(text[i]);
        pos = end + 1;
        return attribute;
    }
    if (text[pos] == '>')
        return attribute;
    for (; pos < text.size() && !IsAsciiSpace(text[pos]) && text[pos] != '>'; ++pos)
        attribute.value += ToLowerAscii(text[pos]);
    if (pos >= text.size())
        return std::nullopt;
    return attribute;
}

// The charset named in a <meta content> value ("text/html; charset=utf-8").
std::optional<HtmlEncoding> CharsetFromMetaContent(std::string_view content) {
    size_t pos = 0;
    for (;;) {
        size_t found = std::string_view::npos;
        for (size_t i = pos; i + 7 <= content.size(); ++i) {
            if (StartsWithIgnoreAsciiCase(content.substr(i), "charset")) {
                found = i;
                break;
            }
        }
        if (found == std::string_view::npos)
            return std::nullopt;
        pos = found + 7;
        while (pos < content.size() && IsAsciiSpace(content[pos]))
            ++pos;
        if (pos >= content.size() || content[pos] != '=')
            continue;
        ++pos;
        while (pos < content.size() && IsAsciiSpace(content[pos]))
            ++pos;
        if (pos >= content.size())
            return std::nullopt;
        if (content[pos] == '"' || content[pos] == '\'') {
            const size_t end = content.find(content[pos], pos + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            return EncodingFromLabel(content.substr(pos + 1, end - pos - 1));
        }
        size_t end = pos;
        while (end < content.size() && !IsAsciiSpace(content[end]) && content[end] != ';')
            ++end;
        return EncodingFromLabel(content.substr(pos, end - pos));
    }
}

// What one <meta> element declares; pos is just after "<meta".
std::optional<HtmlEncoding> CharsetOfMeta(std::string_view text, size_t& pos) {
    bool gotPragma = false;
    std::optional<bool> needPragma;
    std::optional<HtmlEncoding> charset;
    bool seenHttpEquiv = false, seenContent = false, seenCharset = false;
    while (auto attribute = NextAttribute(text, pos)) {
        if (attribute->name == "http-equiv" && !seenHttpEquiv) {
            seenHttpEquiv = true;
            gotPragma = attribute->value == "content-type";
        } else if (attribute->name == "content" && !seenContent) {
            seenContent = true;
            if (!charset) {
                if ((charset = CharsetFromMetaContent(attribute->value)))
                    needPragma = true;
            }
        } else if (attribute->name == "charset" && !seenCharset) {
            seenCharset = true;
            charset = EncodingFromLabel(attribute->value);
            needPragma = false;
        }
    }
    if (!needPragma || (*needPragma && !gotPragma) || !charset)
        return std::nullopt;
    // A page that could be read this far as ASCII is not UTF-16, whatever it claims; and
    // x-user-defined is for scripts' own data, not for pages.
    if (*charset == HtmlEncoding::Utf16LE || *charset == HtmlEncoding::Utf16BE)
        return HtmlEncoding::Utf8;
    if (*charset == HtmlEncoding::XUserDefined)
        return HtmlEncoding::Windows1252;
    return charset;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

std::optional<HtmlEncoding> CharsetFromContentType(std::string_view contentType) {
    size_t pos = contentType.find(';');
    while (pos != std::string_view::npos) {
        ++pos;
        while (pos < contentType.size() && IsAsciiSpace(contentType[pos]))
            ++pos;
        const size_t equals = contentType.find('=', pos);
        const size_t semicolon = contentType.find(';', pos);
        if (equals == std::string_view::npos)
            return std::nullopt;
        if (semicolon < equals) {
            pos = semicolon;
            continue;
        }
        const std::string_view name = TrimAsciiSpace(contentType.substr(pos, equals - pos));
        std::string value;
        size_t end = equals + 1;
        if (end < contentType.size() && contentType[end] == '"') {
            for (++end; end < contentType.size() && contentType[end] != '"'; ++end) {
                if (contentType[end] == '\\' && end + 1 < contentType.size())
                    ++end;
                value += contentType[end];
            }
            end = contentType.find(';', end);
        } else {
            end = contentType.find(';', end);
            value = contentType.substr(equals + 1, end == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : end - equals - 1);
        }
        if (EqualsIgnoreAsciiCase(name, "charset"))
            return EncodingFromLabel(value);
        pos = end;
    }
    return std::nullopt;
}

std::optional<HtmlEncoding> CharsetFromBom(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return HtmlEncoding::Utf8;
    if (bytes.starts_with("\xFF\xFE"))
        return HtmlEncoding::Utf16LE;
    if (bytes.starts_with("\xFE\xFF"))
        return HtmlEncoding::Utf16BE;
    return std::nullopt;
}

std::optional<HtmlEncoding> CharsetFromMeta(std::string_view bytes) {
    const std::string_view text = bytes.substr(0, kPrescanLength);
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] != '<') {
            ++pos;
        } else if (text.substr(pos).starts_with("<!--")) {
            const size_t end = text.find("-->", pos + 2);
            if (end == std::string_view::npos)
                return std::nullopt;
            pos = end + 3;
        } else if (StartsWithIgnoreAsciiCase(text.substr(pos), "<meta") && pos + 5 < text.size() &&
                   (IsAsciiSpace(text[pos + 5]) || text[pos + 5] == '/')) {
            pos += 5;
            if (const auto charset = CharsetOfMeta(text, pos))
                return charset;
        } else if (pos + 1 < text.size() && (IsAsciiLetter(text[pos + 1]) ||
                                             (text[pos + 1] == '/' && pos + 2 < text.size() &&
                                              IsAsciiLetter(text[pos + 2])))) {
            // Another tag: skip its name and attributes, so that a value such as
            // title="<meta charset=...>" is not taken for a declaration.
            while (pos < text.size() && !IsAsciiSpace(text[pos]) && text[pos] != '>')
                ++pos;
            while (NextAttribute(text, pos)) {
            }
        } else if (pos + 1 < text.size() &&
                   (text[pos + 1] == '!' || text[pos + 1] == '/' || text[pos + 1] == '?')) {
            const size_t end = text.find('>', pos + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            pos = end + 1;
        } else {
            ++pos;
        }
    }
    return std::nullopt;
}

bool IsNonAsciiUtf8(std::string_view bytes) {
    PassTurns turns;
    bool nonAscii = false;
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (turns.Abandoned(pos))
            return false;
        size_t consumed = 0;
        const size_t length = Utf8SequenceAt(bytes, pos, &consumed);
        if (length == 0) {
            // A character cut off by the end of the bytes (a page cut at its size limit, or a
            // transfer that ended early) does not make the rest less UTF-8.
            const auto lead = static_cast<uint8_t>(bytes[pos]);
            if (pos + consumed < bytes.size() || lead < 0xC2 || lead > 0xF4)
                return false;
        }
        nonAscii |= length > 1;
        pos += consumed;
    }
    return nonAscii;
}

HtmlEncoding DecideCharset(std::string_view bytes, std::string_view contentType) {
    if (const auto bom = CharsetFromBom(bytes))
        return *bom;
    if (const auto http = CharsetFromContentType(contentType))
        return *http;
    if (const auto meta = CharsetFromMeta(bytes))
        return *meta;
    return IsNonAsciiUtf8(bytes) ? HtmlEncoding::Utf8 : HtmlEncoding::Windows1252;
}

DecodedText DecodeToUtf8(std::string_view bytes, HtmlEncoding encoding) {
    if (CharsetFromBom(bytes) == encoding)
        bytes.remove_prefix(encoding == HtmlEncoding::Utf8 ? 3 : 2);
    switch (encoding) {
    case HtmlEncoding::Utf8:
        return {DecodeUtf8(bytes), encoding};
    case HtmlEncoding::Utf16LE:
        return {DecodeUtf16(bytes, false), encoding};
    case HtmlEncoding::Utf16BE:
        return {DecodeUtf16(bytes, true), encoding};
    case HtmlEncoding::Windows1252:
        return {DecodeWindows1252(bytes), encoding};
    case HtmlEncoding::Replacement:
        // Encodings that hide markup in what looks like ASCII: nothing of the page is read.
        return {bytes.empty() ? std::string() : std::string("\xEF\xBF\xBD"), encoding};
    case HtmlEncoding::XUserDefined:
        return {DecodeXUserDefined(bytes), encoding};
    default:
        break;
    }
    if (auto text = DecodeWithConverter(bytes, encoding))
        return {std::move(*text), encoding};
    return {DecodeWindows1252(bytes), HtmlEncoding::Windows1252};
}
