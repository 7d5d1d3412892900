// From a page's bytes to its anchors: character set, bounded parse, one walk over the tree.
#include "platform/html/html_parse.h"

#include "platform/html/html_charset.h"
#include "platform/html/html_guard.h"
#include "platform/html/html_tree.h"
#include "platform/html/html_url.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"
#include "platform/text/text_ascii.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsHtmlElement(const GumboNode* node, GumboTag tag) {
    return node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == tag &&
           node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

// An element's text as it renders: runs of white space become one space, none at either end,
// and a line break is CR LF.
class RenderedText {
public:
    void Append(std::string_view text) {
        for (const char c : text) {
            if (IsAsciiSpace(c)) {
                m_pendingSpace = true;
                continue;
            }
            if (m_pendingSpace && !m_lineStart)
                m_text += ' ';
            m_pendingSpace = false;
            m_lineStart = false;
            m_text += c;
        }
    }
    void LineBreak() {
        m_text += "\r\n";
        m_pendingSpace = false;
        m_lineStart = true;
    }
    // Empty again, keeping its room for the next anchor.
    void Clear() {
        m_text.clear();
        m_pendingSpace = false;
        m_lineStart = true;
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
    bool m_pendingSpace = false;
    bool m_lineStart = true;
};

// One walk in document order: the anchors with their raw href and rendered text, and the first
// <base href>. Iterative, as a page can nest elements deeper than the stack allows. The raw
// addresses point into the tree, so they are read before the tree goes.
class AnchorCollector {
public:
    explicit AnchorCollector(const HtmlParseLimits& limits) : m_limits(limits) {}

    // False when the work was abandoned.
    bool Walk(const GumboNode* document) {
        Enter(document);
        while (!m_stack.empty()) {
            if (KeepResponsive())
                return false;
            Frame& frame = m_stack.back();
            if (frame.next < frame.children->length) {
                Enter(static_cast<const GumboNode*>(frame.children->data[frame.next++]));
                continue;
            }
            if (frame.anchor)
                EndAnchor();
            m_stack.pop_back();
        }
        return true;
    }

    struct Anchor {
        const char* href; // the raw value, in the tree; null: no href
        size_t textStart; // in texts
        size_t textLength;
        bool hasText;  // false: the element has no child nodes
        bool textRead; // false: its text went beyond the budget and is not kept at all
    };
    std::vector<Anchor> anchors;
    std::string texts; // the rendered text of every anchor, one after the other (UTF-8)
    const char* baseHref = nullptr;
    PageCut cut = PageCut::None; // what the limits left out

private:
    // An anchor's first bytes of text are paid from the whole text budget, the rest only from
    // the part of it not kept for such short texts: however much text long anchors have, the
    // short ones after them (page numbers) are still read.
    static constexpr size_t kShortTextBytes = 64;
    static constexpr size_t kShortTextShare = 4; // a quarter of the budget is kept for them

    struct Frame {
        const GumboVector* children;
        unsigned next;
        bool anchor;
    };
    struct OpenAnchor {
        size_t index;
        bool hasChildNodes;
        size_t bytesSeen; // of text inside it, as the page has it
        RenderedText text;
    };

    void Enter(const GumboNode* node) {
        switch (node->type) {
        case GUMBO_NODE_DOCUMENT:
            m_stack.push_back({&node->v.document.children, 0, false});
            return;
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            AddText(node->v.text.text);
            return;
        case GUMBO_NODE_ELEMENT:
            break;
        default: // comments; and template contents, which are not part of the document
            return;
        }
        const GumboElement& element = node->v.element;
        if (element.tag == GUMBO_TAG_SCRIPT || element.tag == GUMBO_TAG_STYLE)
            return;
        if (IsHtmlElement(node, GUMBO_TAG_BR))
            AddLineBreak();
        const GumboAttribute* href = gumbo_get_attribute(&element.attributes, "href");
        if (IsHtmlElement(node, GUMBO_TAG_BASE) && href && !baseHref)
            baseHref = href->value;
        bool anchor = IsHtmlElement(node, GUMBO_TAG_A);
        if (anchor && anchors.size() >= m_limits.maxAnchors) {
            anchor = false;
            cut = std::max(cut, PageCut::Anchors);
        }
        if (anchor)
            BeginAnchor(href, element.children.length > 0);
        m_stack.push_back({&element.children, 0, anchor});
    }

    void BeginAnchor(const GumboAttribute* href, bool hasChildNodes) {
        anchors.push_back({href ? href->value : nullptr, 0, 0, false, true});
        // The open anchors' texts are used again rather than made anew for each anchor.
        if (m_depth == m_open.size())
            m_open.emplace_back();
        OpenAnchor& open = m_open[m_depth++];
        open.index = anchors.size() - 1;
        open.hasChildNodes = hasChildNodes;
        open.bytesSeen = 0;
        open.text.Clear();
    }

    void EndAnchor() {
        const OpenAnchor& open = m_open[--m_depth];
        Anchor& anchor = anchors[open.index];
        if (m_depth < m_firstReading) {
            anchor.textRead = false;
            m_firstReading = m_depth;
        } else if (open.hasChildNodes) {
            anchor.textStart = texts.size();
            anchor.textLength = open.text.Text().size();
            anchor.hasText = true;
            texts += open.text.Text();
        }
    }

    // Text counts for every anchor that it is inside (anchors nest across table cells), so the
    // total is bounded, not each anchor's.
    bool Spend(size_t cost, size_t budget) {
        if (cost > budget || m_textUsed > budget - cost)
            return false;
        m_textUsed += cost;
        return true;
    }

    // The open anchors from m_firstReading up to end read no more text, and so keep none.
    void StopReading(size_t end) {
        m_firstReading = end;
        cut = std::max(cut, PageCut::AnchorText);
    }

    // Gives a piece of text, bytes long in the page, to every open anchor that still reads its
    // text. An anchor has seen at least as much as any anchor inside it, so the anchors past
    // their short text come first; an anchor that cannot be paid for reads no more. Each
    // anchor given the piece is paid for, and one that stops reading stops once, so a page
    // costs at most its budget however deep its anchors nest.
    template <class Give> void Feed(size_t bytes, Give give) {
        if (bytes == 0)
            return;
        size_t firstShort = m_firstReading;
        while (firstShort < m_depth && m_open[firstShort].bytesSeen + bytes > kShortTextBytes)
            ++firstShort;
        const size_t longBudget = m_limits.maxTextBytes - m_limits.maxTextBytes / kShortTextShare;
        if (!Spend((firstShort - m_firstReading) * bytes, longBudget))
            StopReading(firstShort);
        if (!Spend((m_depth - firstShort) * bytes, m_limits.maxTextBytes))
            StopReading(m_depth);
        for (size_t i = m_firstReading; i < m_depth; ++i) {
            m_open[i].bytesSeen += bytes;
            give(m_open[i].text);
        }
    }

    void AddText(const char* text) {
        const std::string_view view(text, m_depth == 0 ? 0 : std::strlen(text));
        Feed(view.size(), [view](RenderedText& rendered) { rendered.Append(view); });
    }

    void AddLineBreak() {
        Feed(m_depth == 0 ? 0 : 2, [](RenderedText& rendered) { rendered.LineBreak(); });
    }

    const HtmlParseLimits& m_limits;
    std::vector<Frame> m_stack;
    std::vector<OpenAnchor> m_open; // the first m_depth are open
    size_t m_depth = 0;
    size_t m_firstReading = 0; // the open anchors before it read no more text
    size_t m_textUsed = 0;
};

// Resolving an address costs about as much as this many steps of the walk.
constexpr size_t kStepsPerAnchor = 32;

// Resolves the collected anchors against the page's base and packs them, while the tree that
// their raw addresses point into still stands. One set of buffers serves every anchor. Stops
// early when the work is abandoned.
HtmlAnchorList PackAnchors(const AnchorCollector& collector, std::u16string_view documentUrl,
                           HtmlEncoding encoding) {
    const std::string documentAddress = ToUtf8(documentUrl);
    std::string base = documentAddress;
    if (collector.baseHref) {
        if (auto resolved = UrlResolver(documentAddress, encoding).Resolve(collector.baseHref))
            base = std::move(*resolved);
    }
    const UrlResolver resolver(base, encoding);
    HtmlAnchorList anchors(FromUtf8(base));
    std::string resolved;
    std::u16string href, text;
    for (const AnchorCollector::Anchor& anchor : collector.anchors) {
        if (KeepResponsive(kStepsPerAnchor))
            break;
        if (anchor.href) {
            const std::string_view raw(anchor.href);
            href.clear();
            AppendFromUtf8(href, resolver.Resolve(raw, resolved) ? resolved : raw);
        }
        if (anchor.hasText) {
            text.clear();
            AppendFromUtf8(
                text,
                std::string_view(collector.texts).substr(anchor.textStart, anchor.textLength));
        }
        if (!anchors.Add(anchor.href ? std::optional<std::u16string_view>(href) : std::nullopt,
                         anchor.hasText ? std::optional<std::u16string_view>(text) : std::nullopt,
                         anchor.textRead)) {
            anchors.MarkCut(PageCut::Anchors);
            break;
        }
    }
    anchors.MarkCut(collector.cut);
    anchors.ShrinkToFit();
    return anchors;
}

// What a parse that was abandoned gives: no anchors. Whoever abandoned it knows why, and a
// failure of the window's while it was kept responsive goes on from here.
HtmlAnchorList Abandoned() {
    RethrowDispatchFailure();
    return HtmlAnchorList();
}

} // namespace

HtmlAnchorList ParseHtmlDocument(std::string_view bytes, std::u16string_view contentType,
                                 std::u16string_view documentUrl, const HtmlParseLimits& limits) {
    bytes = bytes.substr(0, limits.maxPageBytes);
    // The <meta> prescan decides where the BOM and the server do not, whatever the host's
    // DLCTL_NO_METACHARSET says: the flag is there to spare a second load when a declaration
    // contradicts a first guess, but here the prescan comes before any decoding, and a
    // declared page read in the wrong encoding loses the links whose names are not ASCII.
    // Each step can take a large page from tens of milliseconds to seconds: the window is
    // heard all along, and Cancel ends the parse.
    const HtmlEncoding charset = DecideCharset(bytes, ToUtf8(contentType));
    if (WorkAbandoned())
        return Abandoned();
    auto [markup, encoding] = DecodeToUtf8(bytes, charset);
    if (WorkAbandoned())
        return Abandoned();
    LimitMarkup(markup);
    if (WorkAbandoned())
        return Abandoned();

    // The tree goes before the document is handed out: only the packed anchors stay.
    const HtmlTree tree(markup);
    if (tree.Abandoned())
        return Abandoned();
    if (!tree.Root()) {
        HtmlAnchorList none;
        none.MarkCut(PageCut::Structure);
        return none;
    }
    AnchorCollector collector(limits);
    if (!collector.Walk(tree.Root()))
        return Abandoned();
    HtmlAnchorList anchors = PackAnchors(collector, documentUrl, encoding);
    return WorkAbandoned() ? Abandoned() : anchors;
}
