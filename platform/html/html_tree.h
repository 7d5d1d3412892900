// A parsed HTML tree with bounded cost. The parser's memory comes from an allocator of the
// tree's own: the whole tree goes in one sweep (no recursion, whatever its depth), and a page
// that makes the parser allocate far more than its size (misnested formatting tags make it
// copy elements over and over) stops the parse instead of exhausting the machine. A large page
// takes the parser seconds: the window is kept responsive while it runs (KeepResponsive), and
// the parse stops when the work is abandoned.
#pragma once

#include <gumbo.h>

#include <cstddef>
#include <memory>
#include <string_view>

class HtmlTree {
public:
    // Parses UTF-8 markup. Root() is null when the parse went over its budget
    // (budgetBase + budgetPerByte * markup.size() bytes allocated in all) or was abandoned.
    explicit HtmlTree(std::string_view markup, size_t budgetBase = 64u << 20,
                      size_t budgetPerByte = 128);
    ~HtmlTree();
    HtmlTree(const HtmlTree&) = delete;
    HtmlTree& operator=(const HtmlTree&) = delete;

    // The document node, or null.
    const GumboNode* Root() const { return m_output ? m_output->document : nullptr; }
    // Whether the parse stopped because the work was abandoned.
    bool Abandoned() const;

    struct Arena;

private:
    std::unique_ptr<Arena> m_arena;
    GumboOutput* m_output = nullptr;
};
