// How hard one server is asked: what it says it wants (Retry-After), and how its transfers
// at once halve when it pushes back and grow back after clean answers.
#include "platform/net/urlmon_headers.h"
#include "platform/net/urlmon_hosts.h"

#include <gtest/gtest.h>

namespace {

using urlmon::HostThrottle;

TEST(RetryAfter, SecondsOrAnHttpDate) {
    using urlmon::RetryAfterMs;
    constexpr int64_t kNow = 1445412480; // Wed, 21 Oct 2015 07:28:00 GMT
    EXPECT_EQ(RetryAfterMs(" 120 ", kNow), 120000u);
    EXPECT_EQ(RetryAfterMs("Wed, 21 Oct 2015 09:28:00 GMT", kNow), 7200000u);
    EXPECT_EQ(RetryAfterMs("Wednesday, 21-Oct-15 07:28:30 GMT", kNow), 30000u);
    EXPECT_EQ(RetryAfterMs("Wed, 21 Oct 2015 07:00:00 GMT", kNow), 0u); // already past
    EXPECT_EQ(RetryAfterMs("99999999999999", kNow), UINT32_MAX);
    EXPECT_FALSE(RetryAfterMs("soon", kNow));
    EXPECT_FALSE(RetryAfterMs("-5", kNow));
    EXPECT_FALSE(RetryAfterMs("", kNow));
}

TEST(HostThrottle, HalvesWhenPushedBackAndGrowsBackOneAtATime) {
    HostThrottle host(4);
    uint32_t now = 1000;
    EXPECT_TRUE(host.CanStart(now, true, 0));
    for (int i = 0; i < 3; ++i)
        host.Started(now);
    EXPECT_FALSE(host.CanStart(now, true, 3)) << "the last one is the walk's";
    EXPECT_TRUE(host.CanStart(now, false, 3));
    EXPECT_TRUE(host.CanStart(now, true, 2)) << "the walk's own runs: one more ahead";

    // Without a Retry-After the wait doubles from a second; nothing starts before it ends.
    EXPECT_EQ(host.PushedBack(now, std::nullopt), 1000u);
    EXPECT_EQ(host.Limit(), 2);
    EXPECT_EQ(host.PushedBack(now, std::nullopt), 2000u);
    EXPECT_EQ(host.Limit(), 1);
    EXPECT_EQ(host.PushedBack(now, 0u), HostThrottle::kMinWaitMs);
    EXPECT_EQ(host.Limit(), 1) << "never below one";
    for (int i = 0; i < 3; ++i)
        host.Ended();
    EXPECT_FALSE(host.CanStart(now + 1999, false, 0));
    now += 2000;
    EXPECT_TRUE(host.CanStart(now, false, 0));
    EXPECT_FALSE(host.CanStart(now, true, 0)) << "one at a time: nothing ahead";

    // Clean answers first pace the requests faster, then win back transfers one at a time.
    auto answerRun = [&] {
        for (int i = 0; i < HostThrottle::kCleanRun; ++i) {
            now += 1000;
            host.Started(now);
            host.Ended();
            host.Answered(now);
        }
    };
    for (int run = 0; run < 40 && host.Limit() == 1; ++run)
        answerRun();
    EXPECT_EQ(host.Limit(), 2);
    answerRun();
    EXPECT_EQ(host.Limit(), 3);
    answerRun();
    answerRun();
    EXPECT_EQ(host.Limit(), 4) << "up to the setting, not beyond";
    EXPECT_EQ(host.PushedBack(now, std::nullopt), 1000u) << "a clean answer resets the backoff";

    // A server seen to serve one connection at a time keeps that, whatever it answers.
    host.Starved(1);
    for (int run = 0; run < 5; ++run)
        answerRun();
    EXPECT_EQ(host.Limit(), 1);
}

} // namespace
