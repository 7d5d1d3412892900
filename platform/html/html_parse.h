// Reading a page into what the document keeps of it: its anchors.
#pragma once

#include "platform/html/html_anchors.h"

#include <cstddef>
#include <string>
#include <string_view>

struct HtmlParseLimits {
    size_t maxPageBytes = 16u << 20; // read from the cache file; the rest is ignored (the
                                     // document tells that its page was cut)
    size_t maxAnchors = 1'000'000;   // anchors after these are not kept
    size_t maxTextBytes = 32u << 20; // text kept for all anchors together (UTF-8 bytes); an
                                     // anchor whose text goes beyond it keeps none
};

// Reads the page's bytes in its encoding (contentType: the HTTP Content-Type value, may be
// empty), parses it and returns its HTML anchors in document order, their addresses resolved
// against the first <base href> or else documentUrl, with their queries in the page's
// encoding. A page that the parser cannot handle within its bounds has no anchors. The list
// tells what its limits left out (HtmlAnchorList::Cut).
HtmlAnchorList ParseHtmlDocument(std::string_view bytes, std::u16string_view contentType,
                                 std::u16string_view documentUrl,
                                 const HtmlParseLimits& limits = {});
