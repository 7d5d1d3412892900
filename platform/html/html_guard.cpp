// A light scan over the markup's tags, ahead of the real parser, that takes out what would
// make the parser's work grow faster than the page.
#include "platform/html/html_guard.h"

#include "platform/pump/pump.h"
#include "platform/text/text_ascii.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements without an end tag.
bool IsVoid(std::string_view name) {
    return OneOf(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr",
                        "image", "img", "input", "keygen", "link", "meta", "param", "source",
                        "track", "wbr"});
}

// Elements that a later sibling of their kind closes, and the document's own frame; they do not
// make the tree deeper by themselves.
bool ClosesItself(std::string_view name) {
    return OneOf(name,
                 {"p",        "li",      "dt",   "dd",   "option", "optgroup", "rb",    "rp",
                  "rt",       "rtc",     "tr",   "td",   "th",     "tbody",    "thead", "tfoot",
                  "colgroup", "caption", "html", "head", "body",   "frameset"});
}

// Elements whose content is text up to their end tag. Not <noscript>: the parser runs no
// script, so what <noscript> holds is markup to it, nested as deep as the page makes it.
bool HasTextContent(std::string_view name) {
    return OneOf(name,
                 {"script", "style", "xmp", "iframe", "noembed", "noframes", "textarea", "title"});
}

bool MayRemove(std::string_view name) {
    return name != "a" && name != "template" && name != "plaintext" && !HasTextContent(name);
}

// HTML elements that end an <svg> or <math> subtree when they appear inside it.
bool LeavesForeignContent(std::string_view name) {
    return OneOf(name, {"b",     "big",     "blockquote", "body", "br",     "center", "code", "dd",
                        "div",   "dl",      "dt",         "em",   "embed",  "font",   "h1",   "h2",
                        "h3",    "h4",      "h5",         "h6",   "head",   "hr",     "i",    "img",
                        "li",    "listing", "menu",       "meta", "nobr",   "ol",     "p",    "pre",
                        "ruby",  "s",       "small",      "span", "strong", "strike", "sub",  "sup",
                        "table", "tt",      "u",          "ul",   "var"});
}

struct Tag {
    std::string name;   // lower case
    size_t end = 0;     // index of the closing '>'
    size_t cutFrom = 0; // where the attributes beyond the limit start (0: none)
    bool selfClosing = false;
};

// Reads the tag whose name starts at pos (just after "<" or "</"); nothing when the markup
// ends inside it.
std::optional<Tag> ReadTag(std::string_view html, size_t pos, size_t maxAttributes) {
    Tag tag;
    for (; pos < html.size() && !IsAsciiSpace(html[pos]) && html[pos] != '/' && html[pos] != '>';
         ++pos)
        tag.name += ToLowerAscii(html[pos]);
    size_t attributes = 0;
    for (;;) {
        while (pos < html.size() && (IsAsciiSpace(html[pos]) || html[pos] == '/'))
            ++pos;
        if (pos >= html.size())
            return std::nullopt;
        if (html[pos] == '>') {
            tag.end = pos;
            tag.selfClosing = html[pos - 1] == '/';
            return tag;
        }
        if (++attributes == maxAttributes + 1)
            tag.cutFrom = pos;
        // The name; a leading '=' belongs to it.
        ++pos;
        while (pos < html.size() && !IsAsciiSpace(html[pos]) && html[pos] != '/' &&
               html[pos] != '>' && html[pos] != '=')
            ++pos;
        while (pos < html.size() && IsAsciiSpace(html[pos]))
            ++pos;
        if (pos >= html.size() || html[pos] != '=')
            continue;
        ++pos;
        while (pos < html.size() && IsAsciiSpace(html[pos]))
            ++pos;
        if (pos >= html.size())
            return std::nullopt;
        if (html[pos] == '"' || html[pos] == '\'') {
            const size_t close = html.find(html[pos], pos + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            pos = close + 1;
        } else {
            while (pos < html.size() && !IsAsciiSpace(html[pos]) && html[pos] != '>')
                ++pos;
        }
    }
}

// The index of the end tag "</name" that closes text content starting at pos, or npos.
size_t FindEndTag(std::string_view html, size_t pos, std::string_view name) {
    for (;;) {
        pos = html.find("</", pos);
        if (pos == std::string_view::npos)
            return pos;
        const size_t after = pos + 2 + name.size();
        bool match = after <= html.size();
        for (size_t i = 0; match && i < name.size(); ++i)
            match = ToLowerAscii(html[pos + 2 + i]) == name[i];
        if (match && (after == html.size() || IsAsciiSpace(html[after]) || html[after] == '/' ||
                      html[after] == '>'))
            return pos;
        pos += 2;
    }
}

// The parser reads a run of text without a pause the window could be heard in: a long run is
// broken every so many bytes by an empty comment, which adds nothing to any element's text.
constexpr size_t kTextRunBytes = 16u << 10;
constexpr std::string_view kTextBreak = "<!---->";
// Character references are shorter than this (numeric ones padded with zeros aside).
constexpr size_t kLongestReference = 64;

// Whether a break before html[pos], inside a run of text, leaves the text as it reads: not
// inside a UTF-8 sequence, a CR LF pair or a character reference.
bool MayBreakTextAt(std::string_view html, size_t pos) {
    const char before = html[pos - 1];
    if ((static_cast<unsigned char>(html[pos]) & 0xC0) == 0x80 || before == '\r')
        return false;
    if (!IsAsciiLetter(before) && !IsAsciiDigit(before) && before != '#' && before != '&')
        return true;
    return html.substr(pos - kLongestReference, kLongestReference).find('&') ==
           std::string_view::npos;
}

// A range to take out of the markup, and what goes in its place.
struct Cut {
    size_t from, to;
    std::string_view insert = {};
};

// Walks the tags and lists the byte ranges to take out.
class TagScanner {
public:
    TagScanner(std::string_view html, const MarkupLimits& limits)
        : m_html(html), m_limits(limits) {}

    // The cuts in order; nothing when the work was abandoned.
    std::vector<Cut> Scan() {
        size_t pos = 0;
        size_t textFrom = 0; // where the run of text before pos began
        while (pos != std::string_view::npos) {
            const size_t next = m_html.find('<', pos);
            if (next == std::string_view::npos) {
                BreakText(textFrom, m_html.size());
                break;
            }
            if (KeepResponsive())
                return {};
            pos = next;
            const std::string_view rest = m_html.substr(pos);
            const bool endTag = rest.size() > 2 && rest[1] == '/';
            if (!rest.starts_with("<!") && !rest.starts_with("<?") && !endTag &&
                !(rest.size() > 1 && IsAsciiLetter(rest[1]))) {
                ++pos; // a '<' of the text
                continue;
            }
            BreakText(textFrom, pos);
            if (rest.starts_with("<!--"))
                pos = SkipPast(pos + 2, "-->");
            else if (m_foreign > 0 && rest.starts_with("<![CDATA["))
                pos = SkipPast(pos + 9, "]]>");
            else if (rest.starts_with("<!") || rest.starts_with("<?"))
                pos = SkipPast(pos + 2, ">");
            else if (endTag && IsAsciiLetter(rest[2]))
                pos = EndTag(pos);
            else if (endTag) // "</>" is nothing, "</" and anything else a comment
                pos = SkipPast(pos + 2, ">");
            else
                pos = StartTag(pos);
            textFrom = pos;
        }
        return std::move(m_cuts);
    }

private:
    // Breaks the run of text [from, to) into pieces of about kTextRunBytes. Where no break
    // keeps the text as it reads (a run of references), one is made all the same: the window
    // must be heard whatever the page.
    void BreakText(size_t from, size_t to) {
        for (size_t pos = from + kTextRunBytes; pos < to; pos += kTextRunBytes) {
            size_t at = pos;
            while (at < to && at < pos + kTextRunBytes && !MayBreakTextAt(m_html, at))
                ++at;
            if (at == pos + kTextRunBytes)
                for (at = pos; at < to && (static_cast<unsigned char>(m_html[at]) & 0xC0) == 0x80;)
                    ++at;
            if (at >= to)
                break;
            m_cuts.push_back({at, at, kTextBreak});
            pos = at;
        }
    }

    size_t SkipPast(size_t pos, std::string_view end) {
        const size_t found = m_html.find(end, pos);
        return found == std::string_view::npos ? found : found + end.size();
    }

    // A tag that the end of the markup cuts off is no tag for the parser either, but it would
    // still read all its attributes; it goes.
    size_t CutOffTag(size_t pos) {
        m_cuts.push_back({pos, m_html.size()});
        return std::string_view::npos;
    }

    size_t EndTag(size_t pos) {
        const auto tag = ReadTag(m_html, pos + 2, m_limits.maxAttributes);
        if (!tag)
            return CutOffTag(pos);
        if (!IsVoid(tag->name) && m_depth > 0)
            --m_depth;
        if ((tag->name == "svg" || tag->name == "math") && m_foreign > 0)
            --m_foreign;
        return tag->end + 1;
    }

    size_t StartTag(size_t pos) {
        const auto tag = ReadTag(m_html, pos + 1, m_limits.maxAttributes);
        if (!tag)
            return CutOffTag(pos);
        if (m_foreign > 0 && LeavesForeignContent(tag->name))
            m_foreign = 0;
        const bool opens =
            !IsVoid(tag->name) && !ClosesItself(tag->name) && !(tag->selfClosing && m_foreign > 0);
        if (opens && m_depth >= m_limits.maxDepth && MayRemove(tag->name)) {
            m_cuts.push_back({pos, tag->end + 1});
            return tag->end + 1;
        }
        if (tag->cutFrom != 0)
            m_cuts.push_back({tag->cutFrom, tag->end});
        if (opens)
            ++m_depth;
        if ((tag->name == "svg" || tag->name == "math") && !tag->selfClosing)
            ++m_foreign;
        if (m_foreign == 0 && tag->name == "plaintext")
            return std::string_view::npos;
        if (m_foreign == 0 && HasTextContent(tag->name))
            return FindEndTag(m_html, tag->end + 1, tag->name);
        return tag->end + 1;
    }

    std::string_view m_html;
    const MarkupLimits& m_limits;
    std::vector<Cut> m_cuts;
    size_t m_depth = 0;
    size_t m_foreign = 0; // <svg>/<math> elements open
};

} // namespace

size_t LimitMarkup(std::string& html, const MarkupLimits& limits) {
    const std::vector<Cut> cuts = TagScanner(html, limits).Scan();
    if (cuts.empty())
        return 0;
    std::string kept;
    kept.reserve(html.size() + cuts.size() * kTextBreak.size());
    size_t pos = 0, tagsChanged = 0;
    for (const Cut& cut : cuts) {
        kept.append(html, pos, cut.from - pos);
        kept += cut.insert;
        pos = cut.to;
        tagsChanged += cut.insert.empty() ? 1 : 0;
    }
    kept.append(html, pos);
    html = std::move(kept);
    return tagsChanged;
}
