// Whether a document read its page whole, and if not, which of its limits stopped it.
#pragma once

#include <cstdint>

// In the order of how much a limit loses: a page over several tells the one that lost most.
enum class PageCut : uint8_t {
    None,
    AnchorText, // more anchor text than a document keeps: some anchors' texts are not read
    Anchors,    // more anchors than a document keeps: the anchors after them are missing
    Length,     // more bytes than a document reads: the anchors in the rest are missing
    Structure,  // markup that would keep the parser busy far beyond its size: no anchors at all
};
