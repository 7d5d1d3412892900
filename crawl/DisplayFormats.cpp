#include "crawl/DisplayFormats.h"

#include "platform/text/text.h"

#include <cstdint>
#include <iterator>

namespace {

constexpr int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kSecondsPerHour = 3600;

// At least two digits, as the minutes and seconds of a time.
std::u16string TwoDigits(int64_t n) {
    return (n < 10 ? u"0" : u"") + FormatNumber(n);
}

} // namespace

std::u16string FormatNumber(int64_t n) {
    return FromUtf8(std::to_string(n));
}

std::u16string FormatElapsed(int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    return FormatNumber(seconds / kSecondsPerHour) + u":" +
           TwoDigits(seconds / kSecondsPerMinute % kSecondsPerMinute) + u":" +
           TwoDigits(seconds % kSecondsPerMinute);
}

std::u16string FormatBytes(uint64_t n) {
    constexpr const char16_t* kUnits[] = {u" B", u" KB", u" MB", u" GB", u" TB"};
    size_t unit = 0;
    uint64_t tenths = n * 10;
    while (tenths >= 10240 && unit + 1 < std::size(kUnits)) {
        tenths /= 1024;
        ++unit;
    }
    std::u16string text = FormatNumber(static_cast<int64_t>(tenths / 10));
    if (unit > 0 && tenths < 100)
        text += u"." + FormatNumber(static_cast<int64_t>(tenths % 10));
    return text + kUnits[unit];
}

int64_t ElapsedSeconds(int64_t ftFrom, int64_t ftTo) {
    // A clock set far off must not wrap around into a plausible time.
    int64_t units = 0;
    if (__builtin_sub_overflow(ftTo, ftFrom, &units))
        units = ftFrom < 0 ? INT64_MAX : INT64_MIN;
    return units / kFileTimeUnitsPerSecond;
}
