// Hostile pages: what the parser is spared, the blocks it is given, and what a document keeps
// at most.
#include "platform/clock.h"
#include "platform/html/html_charset.h"
#include "platform/html/html_guard.h"
#include "platform/html/html_parse.h"
#include "platform/html/html_tree.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace {

std::string Repeat(std::string_view piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

size_t Count(std::string_view text, std::string_view piece) {
    size_t count = 0;
    for (size_t pos = text.find(piece); pos != std::string_view::npos;
         pos = text.find(piece, pos + 1))
        ++count;
    return count;
}

TEST(HtmlBounds, NestingBeyondTheDepthLimitIsFlattened) {
    std::string html = Repeat("<div>", 1000) + "<a href=deep>x</a>";
    EXPECT_EQ(LimitMarkup(html), 1000u - 256u);
    EXPECT_EQ(Count(html, "<div>"), 256u);
    EXPECT_NE(html.find("<a href=deep>x</a>"), std::string::npos);
    // A parser that runs no script reads what <noscript> holds as markup, nested as deep.
    std::string noscript = "<noscript>" + Repeat("<div>", 1000) + "<a href=deep>x</a>";
    EXPECT_EQ(LimitMarkup(noscript), 1000u + 1u - 256u);

    // Closed elements give their depth back; elements that close their siblings, void
    // elements, comments and script text do not count.
    std::string flat = Repeat("<div><span>t</span></div><p><li><td><br><img><!-- <div> -->", 2000) +
                       Repeat("<script><div><div></script>", 300);
    const std::string before = flat;
    EXPECT_EQ(LimitMarkup(flat), 0u);
    EXPECT_EQ(flat, before);

    // Self-closing tags in SVG do not nest; in HTML they do.
    std::string svg = "<svg>" + Repeat("<path d='M0'/>", 1000) + "</svg>";
    EXPECT_EQ(LimitMarkup(svg), 0u);
    std::string html2 = Repeat("<div/>", 300);
    EXPECT_EQ(LimitMarkup(html2), 300u - 256u);

    // Anchors and text-content elements stay whatever the depth.
    std::string anchors = Repeat("<b>", 300) + "<a href=1>1</a><script>x</script><b>";
    LimitMarkup(anchors);
    EXPECT_NE(anchors.find("<a href=1>1</a><script>x</script>"), std::string::npos);
    EXPECT_EQ(Count(anchors, "<b>"), 256u);
}

TEST(HtmlBounds, AttributesBeyondTheLimitAreDropped) {
    std::string html = "<a href=keep title='a > b'" + Repeat(" x=1", 1000) + ">t</a>";
    EXPECT_EQ(LimitMarkup(html), 1u);
    EXPECT_EQ(Count(html, " x=1"), 254u);
    EXPECT_TRUE(html.starts_with("<a href=keep title='a > b'"));
    EXPECT_TRUE(html.ends_with(">t</a>"));
}

TEST(HtmlBounds, AParseThatBalloonsIsAbandoned) {
    // Misnested formatting elements make the parser copy them for every later block: a few
    // kilobytes become hundreds of megabytes.
    std::string html = "<div>";
    for (int i = 0; i < 300; ++i)
        html += "<b id=" + std::to_string(i) + ">";
    html += "</div>" + Repeat("<p>x</p>", 300);
    EXPECT_EQ(HtmlTree(html, 1 << 20, 16).Root(), nullptr);
    // An ordinary page of the same size parses within the same budget.
    const std::string page = Repeat("<p><a href=/library.html?page=2>2</a> text</p>", 200);
    EXPECT_NE(HtmlTree(page, 1 << 20, 16).Root(), nullptr);
}

TEST(HtmlBounds, ALargePageHearsTheWindowAndStopsWhenAbandoned) {
    // Time runs fast: every reading of the clock is a while after the last.
    uint32_t now = 0;
    SetTickCountForTesting([&] { return now += 50; });
    int dispatched = 0;
    bool throws = false;
    SetPumpGui({[] { return true; },
                [&] {
                    ++dispatched;
                    if (throws)
                        throw std::runtime_error("from a window");
                },
                {},
                {}});
    // Cancel is pressed in the window while the parser runs.
    SetAbandonTest([&] { return dispatched > 0; });
    const std::string page = Repeat("<p><a href=/library.html?page=2>2</a> text</p>", 20000);
    {
        const HtmlTree tree(page);
        EXPECT_TRUE(tree.Abandoned());
        EXPECT_EQ(tree.Root(), nullptr);
        EXPECT_GT(dispatched, 0);
    }
    const HtmlAnchorList abandoned = ParseHtmlDocument(page, u"", u"http://h/");
    EXPECT_TRUE(abandoned.empty());
    EXPECT_EQ(abandoned.Cut(), PageCut::None);
    // Decoding the page, before any parse, hears the window too.
    dispatched = 0;
    DecodeToUtf8(page, HtmlEncoding::Windows1252);
    EXPECT_GT(dispatched, 0);

    // What a window's event throws comes out of the parse, not through the parser's frames.
    SetAbandonTest(nullptr);
    throws = true;
    EXPECT_THROW(ParseHtmlDocument(page, u"", u"http://h/"), std::runtime_error);
    SetPumpGui({});
    SetTickCountForTesting(nullptr);
    EXPECT_EQ(ParseHtmlDocument(page, u"", u"http://h/").size(), 20000u);
}

TEST(HtmlBounds, LongTextIsBrokenWhereItStillReadsTheSame) {
    // Broken up for the parser's sake, at places inside no reference, character or line end.
    const std::string piece = "caf\xC3\xA9 &amp;&#x41;&lt\r\nx&AElig;";
    const std::string rendered = "caf\xC3\xA9 &A< x\xC3\x86";
    const std::string page = "<a href=a>" + Repeat(piece, 3000) + "</a>";
    std::string markup = page;
    LimitMarkup(markup);
    EXPECT_GT(Count(markup, "<!---->"), 2u);
    const HtmlAnchorList anchors = ParseHtmlDocument(page, u"", u"http://h/");
    ASSERT_EQ(anchors.size(), 1u);
    EXPECT_EQ(ToUtf8(*anchors[0].text), Repeat(rendered, 3000));
}

// The anchors' addresses and texts as the tree holds them, in document order.
void CollectAnchors(const GumboNode* node, std::vector<std::pair<std::string, std::string>>& out) {
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT)
        return;
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_A) {
        const auto* text =
            children.length ? static_cast<const GumboNode*>(children.data[0]) : nullptr;
        out.emplace_back(gumbo_get_attribute(&node->v.element.attributes, "href")->value,
                         text ? text->v.text.text : "");
    }
    for (unsigned i = 0; i < children.length; ++i)
        CollectAnchors(static_cast<const GumboNode*>(children.data[i]), out);
}

TEST(HtmlBounds, TheParsersBlocksNeverOverlapAndTheAnchorsOutliveTheTree) {
    // Attribute and text buffers of every length grow, are freed and are handed out again.
    std::string page;
    std::vector<std::pair<std::string, std::string>> expected;
    for (int i = 0; i < 1500; ++i) {
        const std::string n = std::to_string(i);
        expected.emplace_back("/t/" + Repeat(n, i % 300), Repeat("x" + n, i % 200));
        page += "<a href='" + expected.back().first + "'>" + expected.back().second + "</a>";
    }
    std::vector<std::pair<std::string, std::string>> found;
    {
        const HtmlTree tree(page);
        ASSERT_NE(tree.Root(), nullptr);
        CollectAnchors(tree.Root(), found);
    }
    EXPECT_EQ(found, expected);

    // The document's anchors are read after the tree and its blocks are gone.
    const HtmlAnchorList anchors = ParseHtmlDocument(page, u"", u"http://h/");
    ASSERT_EQ(anchors.size(), expected.size());
    for (size_t i = 0; i < anchors.size(); ++i) {
        ASSERT_EQ(ToUtf8(*anchors[i].href), "http://h" + expected[i].first) << i;
        ASSERT_EQ(ToUtf8(*anchors[i].text), expected[i].second) << i;
    }
}

TEST(HtmlBounds, TheDocumentKeepsBoundedAnchorsAndText) {
    const std::string page = Repeat("<a href=l6file>tone</a>", 10);
    HtmlParseLimits limits;
    limits.maxAnchors = 3;
    const auto first = ParseHtmlDocument(page, u"", u"http://h/", limits);
    EXPECT_EQ(first.size(), 3u);
    EXPECT_EQ(first.Cut(), PageCut::Anchors);

    // Text beyond the budget is not read, not even as an empty text; anchors still are kept.
    limits = HtmlParseLimits{};
    limits.maxTextBytes = 12;
    const auto anchors = ParseHtmlDocument(page, u"", u"http://h/", limits);
    ASSERT_EQ(anchors.size(), 10u);
    EXPECT_EQ(ToUtf8(*anchors[2].text), "tone");
    EXPECT_FALSE(anchors.TextRead(3));
    EXPECT_EQ(anchors[3].text, std::nullopt);
    EXPECT_EQ(anchors.Cut(), PageCut::AnchorText);

    // Long texts cannot take what short ones need: a page number after them is still read.
    limits.maxTextBytes = 400;
    const std::string longText(200, 'x');
    const auto numbered = ParseHtmlDocument("<a href=a>" + longText + "</a><a href=b>" + longText +
                                                "</a><a href=c>3</a>",
                                            u"", u"http://h/", limits);
    ASSERT_EQ(numbered.size(), 3u);
    EXPECT_EQ(ToUtf8(*numbered[0].text), longText);
    EXPECT_FALSE(numbered.TextRead(1));
    EXPECT_EQ(ToUtf8(*numbered[2].text), "3");

    // Bytes beyond the page limit are not read.
    limits = HtmlParseLimits{};
    limits.maxPageBytes = 40; // the second anchor is cut after its start tag
    EXPECT_EQ(ParseHtmlDocument(page, u"", u"http://h/", limits).size(), 2u);
}

} // namespace
