// The encodings, their names, their labels and the system converters that read them.
#include "platform/html/html_encoding.h"
#include "platform/text/text_ascii.h"

#include <algorithm>
#include <array>

namespace {

using E = HtmlEncoding;

struct EncodingInfo {
    E encoding;
    std::string_view name;
    const char* converter; // glibc iconv; the closest one where its table differs a little
};

// In the order of the enumeration, so that an encoding is its own index.
constexpr EncodingInfo kEncodings[] = {
    {E::Utf8, "UTF-8", "UTF-8"},
    {E::Ibm866, "IBM866", "IBM866"},
    {E::Iso8859_2, "ISO-8859-2", "ISO-8859-2"},
    {E::Iso8859_3, "ISO-8859-3", "ISO-8859-3"},
    {E::Iso8859_4, "ISO-8859-4", "ISO-8859-4"},
    {E::Iso8859_5, "ISO-8859-5", "ISO-8859-5"},
    {E::Iso8859_6, "ISO-8859-6", "ISO-8859-6"},
    {E::Iso8859_7, "ISO-8859-7", "ISO-8859-7"},
    {E::Iso8859_8, "ISO-8859-8", "ISO-8859-8"},
    // The same characters as ISO-8859-8; only the direction of the text differs.
    {E::Iso8859_8I, "ISO-8859-8-I", "ISO-8859-8"},
    {E::Iso8859_10, "ISO-8859-10", "ISO-8859-10"},
    {E::Iso8859_13, "ISO-8859-13", "ISO-8859-13"},
    {E::Iso8859_14, "ISO-8859-14", "ISO-8859-14"},
    {E::Iso8859_15, "ISO-8859-15", "ISO-8859-15"},
    {E::Iso8859_16, "ISO-8859-16", "ISO-8859-16"},
    {E::Koi8R, "KOI8-R", "KOI8-R"},
    {E::Koi8U, "KOI8-U", "KOI8-U"},
    {E::Macintosh, "macintosh", "MACINTOSH"},
    {E::Windows874, "windows-874", "CP874"},
    {E::Windows1250, "windows-1250", "CP1250"},
    {E::Windows1251, "windows-1251", "CP1251"},
    {E::Windows1252, "windows-1252", "CP1252"},
    {E::Windows1253, "windows-1253", "CP1253"},
    {E::Windows1254, "windows-1254", "CP1254"},
    {E::Windows1255, "windows-1255", "CP1255"},
    {E::Windows1256, "windows-1256", "CP1256"},
    {E::Windows1257, "windows-1257", "CP1257"},
    {E::Windows1258, "windows-1258", "CP1258"},
    {E::XMacCyrillic, "x-mac-cyrillic", "MAC-CYRILLIC"},
    // GBK as Windows writes it: the euro sign at 0x80.
    {E::Gbk, "GBK", "GBK"},
    {E::Gb18030, "gb18030", "GB18030"},
    // Big5 with the Hong Kong characters, as browsers read every Big5 page.
    {E::Big5, "Big5", "BIG5-HKSCS"},
    // Windows' EUC-JP: JIS X 0208 with the NEC and IBM extensions, as in Shift_JIS.
    {E::EucJp, "EUC-JP", "EUC-JP-MS"},
    {E::Iso2022Jp, "ISO-2022-JP", "ISO-2022-JP"},
    // Windows' Shift_JIS: 0x5C and 0x7E are the backslash and the tilde, not yen and overline,
    // and the NEC and IBM extensions are in.
    {E::ShiftJis, "Shift_JIS", "CP932"},
    // What pages labelled EUC-KR hold: Windows' superset with all of Hangul.
    {E::EucKr, "EUC-KR", "CP949"},
    {E::Replacement, "replacement", nullptr},
    {E::Utf16BE, "UTF-16BE", "UTF-16BE"},
    {E::Utf16LE, "UTF-16LE", "UTF-16LE"},
    {E::XUserDefined, "x-user-defined", nullptr},
};

constexpr bool InEnumerationOrder() {
    for (size_t i = 0; i < std::size(kEncodings); ++i) {
        if (static_cast<size_t>(kEncodings[i].encoding) != i)
            return false;
    }
    return std::size(kEncodings) == static_cast<size_t>(E::XUserDefined) + 1;
}
static_assert(InEnumerationOrder());

struct Label {
    std::string_view label;
    E encoding;
};

// Every label, lower case, sorted for a binary search.
constexpr Label kLabels[] = {
    {"866", E::Ibm866},
    {"ansi_x3.4-1968", E::Windows1252},
    {"arabic", E::Iso8859_6},
    {"ascii", E::Windows1252},
    {"asmo-708", E::Iso8859_6},
    {"big5", E::Big5},
    {"big5-hkscs", E::Big5},
    {"chinese", E::Gbk},
    {"cn-big5", E::Big5},
    {"cp1250", E::Windows1250},
    {"cp1251", E::Windows1251},
    {"cp1252", E::Windows1252},
    {"cp1253", E::Windows1253},
    {"cp1254", E::Windows1254},
    {"cp1255", E::Windows1255},
    {"cp1256", E::Windows1256},
    {"cp1257", E::Windows1257},
    {"cp1258", E::Windows1258},
    {"cp819", E::Windows1252},
    {"cp866", E::Ibm866},
    {"csbig5", E::Big5},
    {"cseuckr", E::EucKr},
    {"cseucpkdfmtjapanese", E::EucJp},
    {"csgb2312", E::Gbk},
    {"csibm866", E::Ibm866},
    {"csiso2022jp", E::Iso2022Jp},
    {"csiso2022kr", E::Replacement},
    {"csiso58gb231280", E::Gbk},
    {"csiso88596e", E::Iso8859_6},
    {"csiso88596i", E::Iso8859_6},
    {"csiso88598e", E::Iso8859_8},
    {"csiso88598i", E::Iso8859_8I},
    {"csisolatin1", E::Windows1252},
    {"csisolatin2", E::Iso8859_2},
    {"csisolatin3", E::Iso8859_3},
    {"csisolatin4", E::Iso8859_4},
    {"csisolatin5", E::Windows1254},
    {"csisolatin6", E::Iso8859_10},
    {"csisolatin9", E::Iso8859_15},
    {"csisolatinarabic", E::Iso8859_6},
    {"csisolatincyrillic", E::Iso8859_5},
    {"csisolatingreek", E::Iso8859_7},
    {"csisolatinhebrew", E::Iso8859_8},
    {"cskoi8r", E::Koi8R},
    {"csksc56011987", E::EucKr},
    {"csmacintosh", E::Macintosh},
    {"csshiftjis", E::ShiftJis},
    {"csunicode", E::Utf16LE},
    {"cyrillic", E::Iso8859_5},
    {"dos-874", E::Windows874},
    {"ecma-114", E::Iso8859_6},
    {"ecma-118", E::Iso8859_7},
    {"elot_928", E::Iso8859_7},
    {"euc-jp", E::EucJp},
    {"euc-kr", E::EucKr},
    {"gb18030", E::Gb18030},
    {"gb2312", E::Gbk},
    {"gb_2312", E::Gbk},
    {"gb_2312-80", E::Gbk},
    {"gbk", E::Gbk},
    {"greek", E::Iso8859_7},
    {"greek8", E::Iso8859_7},
    {"hebrew", E::Iso8859_8},
    {"hz-gb-2312", E::Replacement},
    {"ibm819", E::Windows1252},
    {"ibm866", E::Ibm866},
    {"iso-10646-ucs-2", E::Utf16LE},
    {"iso-2022-cn", E::Replacement},
    {"iso-2022-cn-ext", E::Replacement},
    {"iso-2022-jp", E::Iso2022Jp},
    {"iso-2022-kr", E::Replacement},
    {"iso-8859-1", E::Windows1252},
    {"iso-8859-10", E::Iso8859_10},
    {"iso-8859-11", E::Windows874},
    {"iso-8859-13", E::Iso8859_13},
    {"iso-8859-14", E::Iso8859_14},
    {"iso-8859-15", E::Iso8859_15},
    {"iso-8859-16", E::Iso8859_16},
    {"iso-8859-2", E::Iso8859_2},
    {"iso-8859-3", E::Iso8859_3},
    {"iso-8859-4", E::Iso8859_4},
    {"iso-8859-5", E::Iso8859_5},
    {"iso-8859-6", E::Iso8859_6},
    {"iso-8859-6-e", E::Iso8859_6},
    {"iso-8859-6-i", E::Iso8859_6},
    {"iso-8859-7", E::Iso8859_7},
    {"iso-8859-8", E::Iso8859_8},
    {"iso-8859-8-e", E::Iso8859_8},
    {"iso-8859-8-i", E::Iso8859_8I},
    {"iso-8859-9", E::Windows1254},
    {"iso-ir-100", E::Windows1252},
    {"iso-ir-101", E::Iso8859_2},
    {"iso-ir-109", E::Iso8859_3},
    {"iso-ir-110", E::Iso8859_4},
    {"iso-ir-126", E::Iso8859_7},
    {"iso-ir-127", E::Iso8859_6},
    {"iso-ir-138", E::Iso8859_8},
    {"iso-ir-144", E::Iso8859_5},
    {"iso-ir-148", E::Windows1254},
    {"iso-ir-149", E::EucKr},
    {"iso-ir-157", E::Iso8859_10},
    {"iso-ir-58", E::Gbk},
    {"iso8859-1", E::Windows1252},
    {"iso8859-10", E::Iso8859_10},
    {"iso8859-11", E::Windows874},
    {"iso8859-13", E::Iso8859_13},
    {"iso8859-14", E::Iso8859_14},
    {"iso8859-15", E::Iso8859_15},
    {"iso8859-2", E::Iso8859_2},
    {"iso8859-3", E::Iso8859_3},
    {"iso8859-4", E::Iso8859_4},
    {"iso8859-5", E::Iso8859_5},
    {"iso8859-6", E::Iso8859_6},
    {"iso8859-7", E::Iso8859_7},
    {"iso8859-8", E::Iso8859_8},
    {"iso8859-9", E::Windows1254},
    {"iso88591", E::Windows1252},
    {"iso885910", E::Iso8859_10},
    {"iso885911", E::Windows874},
    {"iso885913", E::Iso8859_13},
    {"iso885914", E::Iso8859_14},
    {"iso885915", E::Iso8859_15},
    {"iso88592", E::Iso8859_2},
    {"iso88593", E::Iso8859_3},
    {"iso88594", E::Iso8859_4},
    {"iso88595", E::Iso8859_5},
    {"iso88596", E::Iso8859_6},
    {"iso88597", E::Iso8859_7},
    {"iso88598", E::Iso8859_8},
    {"iso88599", E::Windows1254},
    {"iso_8859-1", E::Windows1252},
    {"iso_8859-15", E::Iso8859_15},
    {"iso_8859-1:1987", E::Windows1252},
    {"iso_8859-2", E::Iso8859_2},
    {"iso_8859-2:1987", E::Iso8859_2},
    {"iso_8859-3", E::Iso8859_3},
    {"iso_8859-3:1988", E::Iso8859_3},
    {"iso_8859-4", E::Iso8859_4},
    {"iso_8859-4:1988", E::Iso8859_4},
    {"iso_8859-5", E::Iso8859_5},
    {"iso_8859-5:1988", E::Iso8859_5},
    {"iso_8859-6", E::Iso8859_6},
    {"iso_8859-6:1987", E::Iso8859_6},
    {"iso_8859-7", E::Iso8859_7},
    {"iso_8859-7:1987", E::Iso8859_7},
    {"iso_8859-8", E::Iso8859_8},
    {"iso_8859-8:1988", E::Iso8859_8},
    {"iso_8859-9", E::Windows1254},
    {"iso_8859-9:1989", E::Windows1254},
    {"koi", E::Koi8R},
    {"koi8", E::Koi8R},
    {"koi8-r", E::Koi8R},
    {"koi8-ru", E::Koi8U},
    {"koi8-u", E::Koi8U},
    {"koi8_r", E::Koi8R},
    {"korean", E::EucKr},
    {"ks_c_5601-1987", E::EucKr},
    {"ks_c_5601-1989", E::EucKr},
    {"ksc5601", E::EucKr},
    {"ksc_5601", E::EucKr},
    {"l1", E::Windows1252},
    {"l2", E::Iso8859_2},
    {"l3", E::Iso8859_3},
    {"l4", E::Iso8859_4},
    {"l5", E::Windows1254},
    {"l6", E::Iso8859_10},
    {"l9", E::Iso8859_15},
    {"latin1", E::Windows1252},
    {"latin2", E::Iso8859_2},
    {"latin3", E::Iso8859_3},
    {"latin4", E::Iso8859_4},
    {"latin5", E::Windows1254},
    {"latin6", E::Iso8859_10},
    {"logical", E::Iso8859_8I},
    {"mac", E::Macintosh},
    {"macintosh", E::Macintosh},
    {"ms932", E::ShiftJis},
    {"ms_kanji", E::ShiftJis},
    {"shift-jis", E::ShiftJis},
    {"shift_jis", E::ShiftJis},
    {"sjis", E::ShiftJis},
    {"sun_eu_greek", E::Iso8859_7},
    {"tis-620", E::Windows874},
    {"ucs-2", E::Utf16LE},
    {"unicode", E::Utf16LE},
    {"unicode-1-1-utf-8", E::Utf8},
    {"unicode11utf8", E::Utf8},
    {"unicode20utf8", E::Utf8},
    {"unicodefeff", E::Utf16LE},
    {"unicodefffe", E::Utf16BE},
    {"us-ascii", E::Windows1252},
    {"utf-16", E::Utf16LE},
    {"utf-16be", E::Utf16BE},
    {"utf-16le", E::Utf16LE},
    {"utf-8", E::Utf8},
    {"utf8", E::Utf8},
    {"visual", E::Iso8859_8},
    {"windows-1250", E::Windows1250},
    {"windows-1251", E::Windows1251},
    {"windows-1252", E::Windows1252},
    {"windows-1253", E::Windows1253},
    {"windows-1254", E::Windows1254},
    {"windows-1255", E::Windows1255},
    {"windows-1256", E::Windows1256},
    {"windows-1257", E::Windows1257},
    {"windows-1258", E::Windows1258},
    {"windows-31j", E::ShiftJis},
    {"windows-874", E::Windows874},
    {"windows-949", E::EucKr},
    {"x-cp1250", E::Windows1250},
    {"x-cp1251", E::Windows1251},
    {"x-cp1252", E::Windows1252},
    {"x-cp1253", E::Windows1253},
    {"x-cp1254", E::Windows1254},
    {"x-cp1255", E::Windows1255},
    {"x-cp1256", E::Windows1256},
    {"x-cp1257", E::Windows1257},
    {"x-cp1258", E::Windows1258},
    {"x-euc-jp", E::EucJp},
    {"x-gbk", E::Gbk},
    {"x-mac-cyrillic", E::XMacCyrillic},
    {"x-mac-roman", E::Macintosh},
    {"x-mac-ukrainian", E::XMacCyrillic},
    {"x-sjis", E::ShiftJis},
    {"x-unicode20utf8", E::Utf8},
    {"x-user-defined", E::XUserDefined},
    {"x-x-big5", E::Big5},
};
static_assert(std::ranges::is_sorted(kLabels, {}, &Label::label));

constexpr size_t kLongestLabel =
    std::ranges::max(kLabels, {}, [](const Label& l) { return l.label.size(); }).label.size();

} // namespace

std::string_view EncodingName(HtmlEncoding encoding) {
    return kEncodings[static_cast<size_t>(encoding)].name;
}

const char* ConverterName(HtmlEncoding encoding) {
    return kEncodings[static_cast<size_t>(encoding)].converter;
}

std::optional<HtmlEncoding> EncodingFromLabel(std::string_view label) {
    while (!label.empty() && IsAsciiSpace(label.front()))
        label.remove_prefix(1);
    while (!label.empty() && IsAsciiSpace(label.back()))
        label.remove_suffix(1);
    if (label.size() > kLongestLabel)
        return std::nullopt;
    std::array<char, kLongestLabel> buffer;
    std::ranges::transform(label, buffer.begin(), ToLowerAscii<char>);
    const std::string_view lower(buffer.data(), label.size());
    const auto found = std::ranges::lower_bound(kLabels, lower, {}, &Label::label);
    if (found == std::end(kLabels) || found->label != lower)
        return std::nullopt;
    return found->encoding;
}
