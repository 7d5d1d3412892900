// Bounds on what a page can make the HTML parser do. The parser scans the stack of open
// elements for many tags and compares each attribute of a tag with the ones before it, so a
// page nested tens of thousands of elements deep, or a tag with tens of thousands of
// attributes, would keep it busy for minutes. No real page comes near these bounds.
#pragma once

#include <cstddef>
#include <string>

struct MarkupLimits {
    size_t maxDepth = 256;      // elements open at once, as counted by LimitMarkup
    size_t maxAttributes = 256; // attributes per tag
};

// Removes from html (UTF-8) the start tags that would open an element deeper than
// limits.maxDepth and the attributes of a tag beyond limits.maxAttributes. The depth is an
// over-estimate: every start tag of an element that has an end tag counts, except those that
// close their open siblings themselves (p, li, td, option, ...), and every end tag takes one
// off. Anchors, <template> and elements whose content is text (script, style, ...) are never
// removed. A long run of text is broken into pieces by empty comments, so that the parser
// pauses in it (see html_tree.h). Returns the number of tags changed.
size_t LimitMarkup(std::string& html, const MarkupLimits& limits = {});
