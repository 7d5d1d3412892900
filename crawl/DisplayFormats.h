// How counts and times read wherever the program shows them: the progress window's totals
// line, the outcome line and the command line's status line, so they always agree.
#pragma once

#include <cstdint>
#include <string>

// A count in digits.
std::u16string FormatNumber(int64_t n);
// A size in bytes, in binary units with one decimal below ten ("512 B", "1.5 KB", "20 MB").
std::u16string FormatBytes(uint64_t n);
// A duration as H:MM:SS, the hours unbounded ("100:00:00"); less than none (a clock set back)
// reads 0:00:00.
std::u16string FormatElapsed(int64_t seconds);
// Whole seconds from one system file time (100 ns units) to another.
int64_t ElapsedSeconds(int64_t ftFrom, int64_t ftTo);
