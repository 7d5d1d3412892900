// The engine's events as JSON, one object a line, for scripts (--json). The field names are
// part of the program's interface, documented in its manual page: add, never rename.
#pragma once

#include "crawl/CrawlOutcome.h"
#include "crawl/CrawlProgress.h"

#include <cstdint>
#include <string>
#include <string_view>

// {"event":"stored","url":...,"name":...,"bytes":N} and so on; no line end.
std::string JsonEvent(const CCrawlEvent& event);
// {"event":"outcome",...}: the counts, how it ended, the outcome line and the exit status.
std::string JsonOutcome(const CCrawlOutcome& outcome, bool bCancelled, int64_t elapsedSeconds,
                        int status);
// text as a JSON string, quotes included.
std::string JsonString(std::u16string_view text);
