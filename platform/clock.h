// The program's clocks, replaceable by tests.
#pragma once

#include <cstdint>
#include <functional>

// 32-bit millisecond ticks, wrapping; compare as unsigned differences.
uint32_t GetTickCount();
// 100-nanosecond units since 1 January 1601 UTC.
int64_t GetSystemTimeAsFileTime();

// Tests install their own clocks; an empty function restores the real one.
void SetTickCountForTesting(std::function<uint32_t()> clock);
void SetFileTimeForTesting(std::function<int64_t()> clock);
