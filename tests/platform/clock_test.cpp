#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(Clock, FileTimeCountsFrom1601) {
    // 100 ns units: the Unix epoch is 11644473600 s after 1 January 1601.
    const int64_t now = GetSystemTimeAsFileTime();
    const int64_t unixSeconds = now / 10'000'000 - 11'644'473'600;
    EXPECT_NEAR(static_cast<double>(unixSeconds), static_cast<double>(std::time(nullptr)), 5.0);
}

TEST(Clock, TestsCanReplaceBothClocks) {
    SetTickCountForTesting([] { return 0xFFFFFFF0u; });
    SetFileTimeForTesting([] { return int64_t{123}; });
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    EXPECT_EQ(GetSystemTimeAsFileTime(), 123);

    SetTickCountForTesting(nullptr);
    SetFileTimeForTesting(nullptr);
    EXPECT_GT(GetSystemTimeAsFileTime(), 123);
}
