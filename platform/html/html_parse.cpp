// From a page's bytes to its anchors: character set, bounded parse, one walk over the tree.
#include "platform/html/html_parse.h"

#include "platform/html/html_charset.h"
#include "platform/html/html_guard.h"
#include "platform/html/html_tree.h"
#include "platform/html/html_url.h"
#include "platform/text/text.h"

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
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
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

    void Walk(const GumboNode* document) {
        Enter(document);
        while (!m_stack.empty()) {
            Frame& frame = m_stack.back();
            if (frame.next < frame.children->length) {
                Enter(static_cast<const GumboNode*>(frame.children->data[frame.next++]));
                continue;
            }
            if (frame.anchor)
                EndAnchor();
            m_stack.pop_back();
        }
    }

    struct Anchor {
        const char* href; // the raw value, in the tree; null: no href
        size_t textStart; // in texts
        size_t textLength;
        bool hasText; // false: the element has no child nodes
    };
    std::vector<Anchor> anchors;
    std::string texts; // the rendered text of every anchor, one after the other (UTF-8)
    const char* baseHref = nullptr;

private:
    struct Frame {
        const GumboVector* children;
        unsigned next;
        bool anchor;
    };
    struct OpenAnchor {
        size_t index;
        bool hasChildNodes;
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
        const bool anchor =
            IsHtmlElement(node, GUMBO_TAG_A) && anchors.size() < m_limits.maxAnchors;
        if (anchor)
            BeginAnchor(href, element.children.length > 0);
        m_stack.push_back({&element.children, 0, anchor});
    }

    void BeginAnchor(const GumboAttribute* href, bool hasChildNodes) {
        anchors.push_back({href ? href->value : nullptr, 0, 0, false});
        // The open anchors' texts are used again rather than made anew for each anchor.
        if (m_depth == m_open.size())
            m_open.emplace_back();
        OpenAnchor& open = m_open[m_depth++];
        open.index = anchors.size() - 1;
        open.hasChildNodes = hasChildNodes;
        open.text.Clear();
    }

    void EndAnchor() {
        const OpenAnchor& open = m_open[--m_depth];
        if (open.hasChildNodes) {
            Anchor& anchor = anchors[open.index];
            anchor.textStart = texts.size();
            anchor.textLength = open.text.Text().size();
            anchor.hasText = true;
            texts += open.text.Text();
        }
    }

    // Text counts for every anchor that it is inside (anchors nest across table cells), so the
    // total is bounded, not each anchor's.
    bool Spend(size_t bytes) {
        const size_t cost = bytes * m_depth;
        if (m_textFull || cost > m_limits.maxTextBytes - m_textUsed) {
            m_textFull = true;
            return false;
        }
        m_textUsed += cost;
        return true;
    }

    void AddText(const char* text) {
        if (m_depth == 0)
            return;
        const std::string_view view(text, std::strlen(text));
        if (!Spend(view.size()))
            return;
        for (size_t i = 0; i < m_depth; ++i)
            m_open[i].text.Append(view);
    }

    void AddLineBreak() {
        if (m_depth == 0 || !Spend(2))
            return;
        for (size_t i = 0; i < m_depth; ++i)
            m_open[i].text.LineBreak();
    }

    const HtmlParseLimits& m_limits;
    std::vector<Frame> m_stack;
    std::vector<OpenAnchor> m_open; // the first m_depth are open
    size_t m_depth = 0;
    size_t m_textUsed = 0;
    bool m_textFull = false;
};

// Resolves the collected anchors against the page's base and packs them, while the tree that
// their raw addresses point into still stands. One set of buffers serves every anchor.
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
                         anchor.hasText ? std::optional<std::u16string_view>(text) : std::nullopt))
            break;
    }
    anchors.ShrinkToFit();
    return anchors;
}

} // namespace

HtmlAnchorList ParseHtmlDocument(std::string_view bytes, std::u16string_view contentType,
                                 std::u16string_view documentUrl, const HtmlParseLimits& limits) {
    bytes = bytes.substr(0, limits.maxPageBytes);
    // The <meta> prescan decides where the BOM and the server do not, whatever the host's
    // DLCTL_NO_METACHARSET says: the flag is there to spare a second load when a declaration
    // contradicts a first guess, but here the prescan comes before any decoding, and a
    // declared page read in the wrong encoding loses the links whose names are not ASCII.
    auto [markup, encoding] = DecodeToUtf8(bytes, DecideCharset(bytes, ToUtf8(contentType)));
    LimitMarkup(markup);

    // The tree goes before the document is handed out: only the packed anchors stay.
    const HtmlTree tree(markup);
    if (!tree.Root())
        return HtmlAnchorList();
    AnchorCollector collector(limits);
    collector.Walk(tree.Root());
    return PackAnchors(collector, documentUrl, encoding);
}
