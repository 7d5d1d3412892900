// From a page's bytes to its anchors: character set, bounded parse, one walk over the tree.
#include "platform/html_parse.h"

#include "platform/html_charset.h"
#include "platform/html_guard.h"
#include "platform/html_tree.h"
#include "platform/html_url.h"
#include "platform/mshtml.h"
#include "platform/text.h"

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
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
    bool m_pendingSpace = false;
    bool m_lineStart = true;
};

// One walk in document order: the anchors with their raw href and rendered text, and the first
// <base href>. Iterative, as a page can nest elements deeper than the stack allows.
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

    std::vector<HtmlAnchor> anchors; // text final; href present but not yet resolved
    std::vector<std::string> hrefs;  // the raw href of each anchor
    std::optional<std::string> baseHref;

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
        anchors.emplace_back();
        if (href)
            anchors.back().href.emplace();
        hrefs.emplace_back(href ? href->value : "");
        m_open.push_back({anchors.size() - 1, hasChildNodes, {}});
    }

    void EndAnchor() {
        OpenAnchor& open = m_open.back();
        if (open.hasChildNodes)
            anchors[open.index].text = FromUtf8(open.text.Text());
        m_open.pop_back();
    }

    // Text counts for every anchor that it is inside (anchors nest across table cells), so the
    // total is bounded, not each anchor's.
    bool Spend(size_t bytes) {
        const size_t cost = bytes * m_open.size();
        if (m_textFull || cost > m_limits.maxTextBytes - m_textUsed) {
            m_textFull = true;
            return false;
        }
        m_textUsed += cost;
        return true;
    }

    void AddText(const char* text) {
        if (m_open.empty())
            return;
        const std::string_view view(text, std::strlen(text));
        if (!Spend(view.size()))
            return;
        for (OpenAnchor& open : m_open)
            open.text.Append(view);
    }

    void AddLineBreak() {
        if (m_open.empty() || !Spend(2))
            return;
        for (OpenAnchor& open : m_open)
            open.text.LineBreak();
    }

    const HtmlParseLimits& m_limits;
    std::vector<Frame> m_stack;
    std::vector<OpenAnchor> m_open;
    size_t m_textUsed = 0;
    bool m_textFull = false;
};

} // namespace

std::vector<HtmlAnchor> ParseHtmlDocument(std::string_view bytes, std::u16string_view contentType,
                                          std::u16string_view documentUrl, DWORD dlcontrol,
                                          const HtmlParseLimits& limits) {
    bytes = bytes.substr(0, limits.maxPageBytes);
    const bool honourMeta = (dlcontrol & DLCTL_NO_METACHARSET) == 0;
    auto [markup, encoding] =
        DecodeToUtf8(bytes, DecideCharset(bytes, ToUtf8(contentType), honourMeta));
    LimitMarkup(markup);

    AnchorCollector collector(limits);
    {
        const HtmlTree tree(markup);
        if (!tree.Root())
            return {};
        collector.Walk(tree.Root());
    }

    const std::string documentAddress = ToUtf8(documentUrl);
    std::string base = documentAddress;
    if (collector.baseHref) {
        if (auto resolved = UrlResolver(documentAddress, encoding).Resolve(*collector.baseHref))
            base = std::move(*resolved);
    }
    const UrlResolver resolver(base, encoding);
    std::vector<HtmlAnchor> anchors = std::move(collector.anchors);
    for (size_t i = 0; i < anchors.size(); ++i) {
        if (!anchors[i].href)
            continue;
        const std::string& raw = collector.hrefs[i];
        const auto resolved = resolver.Resolve(raw);
        anchors[i].href = FromUtf8(resolved ? *resolved : raw);
        std::string().swap(collector.hrefs[i]);
    }
    anchors.shrink_to_fit();
    return anchors;
}
