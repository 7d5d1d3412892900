// What the tone downloader's tests share: the crawl fixture under its name here, and tones
// of a chosen fill and size.
#pragma once

#include "tests/support/CrawlFixture.h"

#include <cstddef>
#include <string>

using ToneTest = CrawlFixture;

inline std::string Tone(char fill, size_t size = 5000) {
    return std::string(size, fill);
}
