// The program's clocks: a steady millisecond tick and the wall clock as a file time.
#include "platform/clock.h"

#include <chrono>
#include <utility>

namespace {

std::function<uint32_t()>& TickOverride() {
    static std::function<uint32_t()> clock;
    return clock;
}

std::function<int64_t()>& FileTimeOverride() {
    static std::function<int64_t()> clock;
    return clock;
}

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

} // namespace

uint32_t GetTickCount() {
    if (TickOverride())
        return TickOverride()();
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
    return static_cast<uint32_t>(ms); // wraps like the 32-bit tick counter
}

int64_t GetSystemTimeAsFileTime() {
    if (FileTimeOverride())
        return FileTimeOverride()();
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<Ticks>(sinceEpoch).count() +
           kSecondsFrom1601To1970 * 10'000'000;
}

void SetTickCountForTesting(std::function<uint32_t()> clock) {
    TickOverride() = std::move(clock);
}

void SetFileTimeForTesting(std::function<int64_t()> clock) {
    FileTimeOverride() = std::move(clock);
}
