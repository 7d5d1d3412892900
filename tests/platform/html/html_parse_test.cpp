// Reading pages into anchors: addresses, rendered text, character sets and broken markup.
#include "platform/html/html_charset.h"
#include "platform/html/html_iconv.h"
#include "platform/html/html_parse.h"
#include "platform/html/mshtml.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

namespace {

constexpr char16_t kPageUrl[] = u"http://127.0.0.1:8080/dir/page.html?x=1";

std::string Show(const std::optional<std::u16string>& value) {
    return value ? ToUtf8(*value) : "<absent>";
}

std::vector<std::string> Hrefs(std::string_view html, std::u16string_view contentType = u"") {
    std::vector<std::string> hrefs;
    for (const HtmlAnchor& anchor : ParseHtmlDocument(html, contentType, kPageUrl))
        hrefs.push_back(Show(anchor.href));
    return hrefs;
}

std::vector<std::string> Texts(std::string_view html, std::u16string_view contentType = u"") {
    std::vector<std::string> texts;
    for (const HtmlAnchor& anchor : ParseHtmlDocument(html, contentType, kPageUrl))
        texts.push_back(Show(anchor.text));
    return texts;
}

using Strings = std::vector<std::string>;

TEST(HtmlParse, AnchorAddressesResolveAgainstTheDocument) {
    EXPECT_EQ(Hrefs("<a href=next.html>1</a><a href='../up.html'>2</a><a HREF=\"/abs\">3</a>"
                    "<a href=http://other.example/x>4</a><a href=//host2/p>5</a>"),
              (Strings{"http://127.0.0.1:8080/dir/next.html", "http://127.0.0.1:8080/up.html",
                       "http://127.0.0.1:8080/abs", "http://other.example/x", "http://host2/p"}));
    // Query, fragment and empty references keep the document's path.
    EXPECT_EQ(Hrefs("<a href='?q=2'></a><a href='#top'></a><a href=''></a>"),
              (Strings{"http://127.0.0.1:8080/dir/page.html?q=2",
                       "http://127.0.0.1:8080/dir/page.html?x=1#top",
                       "http://127.0.0.1:8080/dir/page.html?x=1"}));
    // Character references decoded, white space around stripped, line breaks inside dropped,
    // spaces and non-ASCII characters sent as UTF-8 escapes.
    EXPECT_EQ(Hrefs("<a href=' \n l6file.php?id=1&amp;n=2 '></a><a href='a\nb.html'></a>"
                    "<a href='Caf\xC3\xA9 Tone.l6t'></a><a href='a\\b'></a>"),
              (Strings{"http://127.0.0.1:8080/dir/l6file.php?id=1&n=2",
                       "http://127.0.0.1:8080/dir/ab.html",
                       "http://127.0.0.1:8080/dir/Caf%C3%A9%20Tone.l6t",
                       "http://127.0.0.1:8080/dir/a/b"}));
    // What is not an address comes back as written; a named anchor has no href at all.
    EXPECT_EQ(Hrefs("<a href='javascript:go(1)'>x</a><a name=top>y</a><a href='mailto:a@b'></a>"),
              (Strings{"javascript:go(1)", "<absent>", "mailto:a@b"}));
}

TEST(HtmlAnchorList, AddressesAndTextsComeBackExactly) {
    HtmlAnchorList list(u"http://127.0.0.1/library.html?page=12");
    const std::vector<HtmlAnchor> anchors{
        {u"http://127.0.0.1/library.html?page=123", u"123"},          // shares all but its end
        {u"http://127.0.0.1/library.html?page=12", u"12"},            // the reference itself
        {u"http://127.0.0.1/lib", u""},                               // a part of it; empty text
        {u"", std::nullopt},                                          // empty address, no text
        {std::nullopt, u"top"},                                       // no address
        {u"mailto:\u00E9t\u00E9@x", u"Caf\u00E9 \U0001F3B8\r\nTone"}, // nothing shared
        {u"http://127.0.0.1/l6file/1/\u3042.l6t", u"\u3042 Lead.l6t"},
    };
    for (const HtmlAnchor& anchor : anchors)
        ASSERT_TRUE(list.Add(anchor.href, anchor.text));
    list.ShrinkToFit();

    ASSERT_EQ(list.size(), anchors.size());
    for (size_t i = 0; i < anchors.size(); ++i) {
        const HtmlAnchor back = list[i];
        EXPECT_EQ(back.href, anchors[i].href) << i;
        EXPECT_EQ(back.text, anchors[i].text) << i;
        EXPECT_EQ(list.HasHref(i), anchors[i].href.has_value()) << i;
        EXPECT_EQ(list.HrefLength(i), anchors[i].href ? anchors[i].href->size() : 0) << i;
    }
}

TEST(HtmlParse, TheFirstBaseHrefIsTheBase) {
    EXPECT_EQ(Hrefs("<head><base target=_top><base href='/lib/'><base href='http://x/'></head>"
                    "<a href=library.html>1</a>"),
              Strings{"http://127.0.0.1:8080/lib/library.html"});
    // A base after the anchor still applies to it.
    EXPECT_EQ(Hrefs("<a href=p2.html>2</a><base href='http://mirror.example/pages/'>"),
              Strings{"http://mirror.example/pages/p2.html"});
    // A base that is no address leaves the document's own.
    EXPECT_EQ(Hrefs("<base href='http://bad host/'><a href=p.html>2</a>"),
              Strings{"http://127.0.0.1:8080/dir/p.html"});
}

TEST(HtmlParse, InnerTextIsTheRenderedText) {
    EXPECT_EQ(Texts("<a href=x>12</a><a href=x>&nbsp;12</a><a href=x><img src=i></a>"
                    "<a href=x></a><a href=x> </a><a href=x><!-- c --></a>"),
              (Strings{"12",
                       "\xC2\xA0"
                       "12",
                       "", "<absent>", "", ""}));
    EXPECT_EQ(Texts("<a href=x>\n  Page\t\r\n  <b>two</b>  </a><a href=x>1<span>2</span>3</a>"),
              (Strings{"Page two", "123"}));
    EXPECT_EQ(Texts("<a href=x>one <br> two<br></a><a href=x><br>3</a>"),
              (Strings{"one\r\ntwo\r\n", "\r\n3"}));
    EXPECT_EQ(Texts("<a href=x>4<script>document.write(5)</script><style>a{}</style>2</a>"),
              Strings{"42"});
}

TEST(HtmlParse, CharacterSetOfThePage) {
    const std::string cafe1252 = "<a href='caf\xE9.l6t'>caf\xE9</a>";
    const std::string cafeUtf8 = "<a href='caf\xC3\xA9.l6t'>caf\xC3\xA9</a>";
    const Strings cafe = {"caf\xC3\xA9"};
    const Strings mojibake = {"caf\xC3\x83\xC2\xA9"};
    // Without a declaration: Windows-1252, unless the bytes are non-ASCII UTF-8.
    EXPECT_EQ(Texts(cafe1252), cafe);
    EXPECT_EQ(Hrefs(cafe1252), Strings{"http://127.0.0.1:8080/dir/caf%C3%A9.l6t"});
    EXPECT_EQ(Texts(cafeUtf8), cafe);
    EXPECT_EQ(Texts(cafeUtf8 + "<a>\xE2\x82"), (Strings{"caf\xC3\xA9", "\xEF\xBF\xBD"}));
    // <meta charset> counts, before the UTF-8 guess.
    const std::string metaLatin = "<meta charset=windows-1252>" + cafeUtf8;
    EXPECT_EQ(Texts(metaLatin), mojibake);
    EXPECT_EQ(
        Texts("<meta http-equiv=Content-Type content='text/html; charset=ISO-8859-1'>" + cafeUtf8),
        mojibake);
    EXPECT_EQ(Texts("<meta charset=utf-8>" + cafe1252), Strings{"caf\xEF\xBF\xBD"});
    // The HTTP charset comes before the page's own declaration and before the UTF-8 guess.
    EXPECT_EQ(Texts(cafeUtf8, u"text/html; charset=windows-1252"), mojibake);
    EXPECT_EQ(Texts("<meta charset=windows-1252>" + cafeUtf8, u"text/html;charset=\"UTF-8\""),
              cafe);
    // An unknown name falls through to the next rule.
    EXPECT_EQ(Texts(cafeUtf8, u"text/html; charset=x-klingon"), cafe);
    // A page does not declare itself in an encoding that is not for pages.
    EXPECT_EQ(Texts("<meta charset=x-user-defined>" + cafe1252), cafe);
    // A byte-order mark is unambiguous, even against the server's word.
    EXPECT_EQ(Texts("\xEF\xBB\xBF" + cafeUtf8, u"text/html; charset=iso-8859-1"), cafe);
    const std::string utf16le("\xFF\xFE<\0a\0>\0\xE9\0", 10);
    const std::string utf16be("\xFE\xFF\0<\0a\0>\0\xE9", 10);
    EXPECT_EQ(Texts(utf16le), Strings{"\xC3\xA9"});
    EXPECT_EQ(Texts(utf16be), Strings{"\xC3\xA9"});
}

TEST(HtmlCharset, LabelsNameEncodingsWhateverTheirCaseAndSpaces) {
    EXPECT_EQ(EncodingFromLabel("latin1"), HtmlEncoding::Windows1252);
    EXPECT_EQ(EncodingFromLabel("US-ASCII"), HtmlEncoding::Windows1252);
    EXPECT_EQ(EncodingFromLabel(" \tX-SJIS\r\n"), HtmlEncoding::ShiftJis);
    EXPECT_EQ(EncodingFromLabel("GB2312"), HtmlEncoding::Gbk);
    EXPECT_EQ(EncodingFromLabel("Windows-949"), HtmlEncoding::EucKr);
    EXPECT_EQ(EncodingFromLabel("koi8-ru"), HtmlEncoding::Koi8U);
    EXPECT_EQ(EncodingFromLabel("CSEUCPKDFMTJAPANESE"), HtmlEncoding::EucJp); // the longest
    EXPECT_EQ(EncodingFromLabel("hz-gb-2312"), HtmlEncoding::Replacement);
    EXPECT_EQ(EncodingFromLabel("x-user-defined"), HtmlEncoding::XUserDefined);
    EXPECT_EQ(EncodingFromLabel("sjis2"), std::nullopt);
    EXPECT_EQ(EncodingFromLabel("utf 8"), std::nullopt);
    EXPECT_EQ(EncodingFromLabel("replacement"), std::nullopt); // a name, but no label
    // Every converter named is there to read and to write queries with.
    for (int i = 0; i <= static_cast<int>(HtmlEncoding::XUserDefined); ++i) {
        if (const char* name = ConverterName(static_cast<HtmlEncoding>(i))) {
            EXPECT_TRUE(Iconv("UTF-8", name)) << name;
            EXPECT_TRUE(Iconv(name, "UTF-8")) << name;
        }
    }
}

TEST(HtmlCharset, DecodingNeverStops) {
    const auto decoded = [](std::string_view bytes, HtmlEncoding encoding) {
        return DecodeToUtf8(bytes, encoding).utf8;
    };
    // A lead byte without its trail, a byte that leads nothing, a character cut off at the end.
    EXPECT_EQ(decoded("a\x81 b\xA0\x82\xA0\x82", HtmlEncoding::ShiftJis),
              "a\xEF\xBF\xBD b\xEF\xBF\xBD\xE3\x81\x82\xEF\xBF\xBD");
    // Each byte of a bad run is one U+FFFD, and reading resumes at the first byte that can
    // start a character, in the state the converter was in (JIS X 0208 after ESC $ B).
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(decoded("\xFF\xFF\x81 \xA0\xFD\x82\xA0", HtmlEncoding::ShiftJis),
              r + r + r + " " + r + r + "\xE3\x81\x82");
    EXPECT_EQ(decoded("\x1B$B\x30\x21\xFF\xFE\x30\x21\x1B(Ba", HtmlEncoding::Iso2022Jp),
              "\xE4\xBA\x9C" + r + r + "\xE4\xBA\x9C" + "a");
    // A large page is converted a piece at a time; characters across the pieces' ends stay whole.
    std::string sjis, utf8;
    for (int i = 0; i < 100000; ++i) {
        sjis += i % 3 == 0 ? "a" : "\x82\xA0";
        utf8 += i % 3 == 0 ? "a" : "\xE3\x81\x82";
    }
    EXPECT_EQ(decoded(sjis, HtmlEncoding::ShiftJis), utf8);
    EXPECT_EQ(decoded("a\xA5\xFF"
                      "b",
                      HtmlEncoding::Iso8859_3),
              "a" + r + "\xCB\x99" + "b");
    EXPECT_EQ(decoded("a\xF0\x9F\x8E\xFF\xFF\xED\xA0\x80"
                      "b",
                      HtmlEncoding::Utf8),
              "a" + r + r + r + r + r + r + "b");
    // An encoding that is never read: the page is one U+FFFD.
    EXPECT_EQ(decoded("<a href=x>y</a>", HtmlEncoding::Replacement), "\xEF\xBF\xBD");
    EXPECT_EQ(decoded("", HtmlEncoding::Replacement), "");
    EXPECT_EQ(decoded("a\x80\xFF", HtmlEncoding::XUserDefined), "a\xEF\x9E\x80\xEF\x9F\xBF");
}

TEST(HtmlParse, BrokenMarkupStillGivesItsAnchors) {
    // Unclosed anchors end where the next one starts or the page ends.
    EXPECT_EQ(Texts("<p><a href=1>one <a href=2>two<div><a href=3>three"),
              (Strings{"one", "two", "three"}));
    // An anchor inside an anchor closes the outer one.
    EXPECT_EQ(Hrefs("<a href=a.html>x<a href=b.html>y</a>z</a>"),
              (Strings{"http://127.0.0.1:8080/dir/a.html", "http://127.0.0.1:8080/dir/b.html"}));
    // Across table cells anchors do nest, and the outer one's text holds the inner one's.
    EXPECT_EQ(Texts("<a href=o>out<table><tr><td><a href=i>in</a></td></tr></table></a>"),
              (Strings{"outin", "in"}));
    // A tag cut off by the end of the page is no tag.
    EXPECT_EQ(Hrefs("<a href=ok>1</a><a href=\"never closed"),
              Strings{"http://127.0.0.1:8080/dir/ok"});
    // Only HTML anchors count: not SVG ones, not those inside a template.
    EXPECT_EQ(Texts("<svg><a href=s>svg</a></svg><template><a href=t>t</a></template>"
                    "<a href=h>html</a>"),
              Strings{"html"});
    EXPECT_TRUE(Hrefs("").empty());
    EXPECT_TRUE(Hrefs(std::string("\0\0\xFF<a", 5)).empty());
}

} // namespace
