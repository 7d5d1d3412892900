// The crawl is a depth-first recursion, one page loader and one link walker per numbered
// page in a chain, so a long library nests deeply. It runs on a large stack of its own,
// reserved once, on the GUI thread itself: the order of the crawl stays exactly that of
// the recursion, and nothing runs on another thread.
#pragma once

#include <cstddef>
#include <functional>

// Runs work to its end on the crawl stack and returns; an exception thrown by work is
// rethrown here, on the caller's stack. Calls from inside work run directly.
void RunOnCrawlStack(const std::function<void()>& work);

// The bytes reserved for the crawl stack (address space; pages are used as touched).
constexpr size_t kCrawlStackBytes = size_t(4) << 30;
