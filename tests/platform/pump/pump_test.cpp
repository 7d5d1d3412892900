// The message pump: order, precedence, and that nothing runs outside DispatchMessage.
#include "platform/pump/pump.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class PumpTest : public ::testing::Test {
protected:
    void TearDown() override {
        DiscardPostedMessages();
        UnregisterPumpSources();
        SetPumpGui({});
    }
};

TEST_F(PumpTest, PostedMessagesRunInOrderAndOnlyWhenDispatched) {
    std::string log;
    PostThreadMessage([&] { log += "a"; });
    PostThreadMessage([&] { log += "b"; });

    MSG first;
    ASSERT_TRUE(PeekMessage(&first));
    EXPECT_EQ(log, "") << "taking a message must not run it";
    MSG second;
    ASSERT_TRUE(PeekMessage(&second));
    DispatchMessage(&first);
    DispatchMessage(&first); // a message runs once, however often it is dispatched
    DispatchMessage(&second);
    EXPECT_EQ(log, "ab");
    MSG none;
    EXPECT_FALSE(PeekMessage(&none));
}

TEST_F(PumpTest, SourcesAdvanceBeforeAMessageIsTakenButNeverRunOne) {
    std::string log;
    int advances = 0;
    RegisterPumpSource({[&] {
                            // A source only queues; what it queues is seen by the same peek.
                            if (advances++ == 0)
                                PostThreadMessage([&] { log += "posted"; });
                        },
                        nullptr});
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg));
    EXPECT_EQ(advances, 1);
    EXPECT_EQ(log, "");
    DispatchMessage(&msg);
    EXPECT_EQ(log, "posted");
    EXPECT_FALSE(PeekMessage(&msg));
    EXPECT_EQ(advances, 2);
}

TEST_F(PumpTest, SourcesAdvanceAgainOnlyOnceTheirBurstIsTaken) {
    std::string log;
    int advances = 0;
    RegisterPumpSource({[&] {
                            if (advances++ == 0) {
                                for (const char* part : {"a", "b", "c"})
                                    PostThreadMessage([&log, part] { log += part; });
                            }
                        },
                        nullptr});
    MSG msg;
    while (PeekMessage(&msg))
        DispatchMessage(&msg);
    EXPECT_EQ(log, "abc") << "in the order posted";
    EXPECT_EQ(advances, 2) << "once for the burst, once to find nothing more";
}

TEST_F(PumpTest, AMessageThatKeepsPostingItselfNeverStopsTheSources) {
    int advances = 0;
    RegisterPumpSource({[&] { ++advances; }, nullptr});
    int passes = 0;
    std::function<void()> again = [&] {
        if (++passes < 10)
            PostThreadMessage(again);
    };
    PostThreadMessage(again);
    MSG msg;
    while (PeekMessage(&msg))
        DispatchMessage(&msg);
    EXPECT_EQ(passes, 10);
    EXPECT_GE(advances, 10) << "the sources advance on every pass, as a transfer must";
}

TEST_F(PumpTest, QueuedNotificationsComeBeforeGuiEvents) {
    int guiEvents = 0;
    int guiPending = 1;
    SetPumpGui({[&] { return guiPending > 0; },
                [&] {
                    --guiPending;
                    ++guiEvents;
                },
                {},
                {}});
    std::string log;
    PostThreadMessage([&] { log += "n"; });

    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg));
    EXPECT_EQ(msg.kind, MSG::Kind::Posted);
    DispatchMessage(&msg);
    ASSERT_TRUE(PeekMessage(&msg));
    EXPECT_EQ(msg.kind, MSG::Kind::Gui);
    EXPECT_EQ(guiEvents, 0);
    DispatchMessage(&msg);
    EXPECT_EQ(guiEvents, 1);
    EXPECT_EQ(log, "n");
    EXPECT_FALSE(PeekMessage(&msg));
}

TEST_F(PumpTest, AGuiEventWaitsBehindAtMostOneBurstOfASourceThatAlwaysHasMore) {
    // A transfer streaming fast queues a notification on every advance.
    RegisterPumpSource({[] { PostThreadMessage([] {}); }, nullptr});
    bool guiPending = false;
    SetPumpGui({[&] { return guiPending; }, [&] { guiPending = false; }, {}, {}});
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg));
    EXPECT_EQ(msg.kind, MSG::Kind::Posted);
    DispatchMessage(&msg);
    guiPending = true; // Cancel is pressed
    ASSERT_TRUE(PeekMessage(&msg));
    EXPECT_EQ(msg.kind, MSG::Kind::Gui) << "the window is heard before the source advances again";
}

TEST_F(PumpTest, SleepWaitsOnABusySourceAndDiscardDropsTheQueue) {
    int waitedFor = -1;
    bool busy = true;
    std::vector<pollfd> seen;
    RegisterPumpSource({nullptr, [&](int ms, std::vector<pollfd>& guiFds) {
                            waitedFor = ms;
                            seen = guiFds;
                            for (pollfd& fd : guiFds)
                                fd.revents = POLLIN;
                            return busy;
                        }});
    // Without the GUI's sources to watch, a wait stays short whatever it is asked.
    Sleep(50);
    EXPECT_EQ(waitedFor, 1);
    // With them, the source waits on the GUI's descriptors too, as long as the GUI allows,
    // and the GUI learns what became ready.
    short handedBack = 0;
    SetPumpGui({[] { return false; }, [] {},
                [](std::vector<pollfd>& fds) {
                    fds.push_back(pollfd{7, POLLIN, 0});
                    return 3;
                },
                [&](std::vector<pollfd>& fds) { handedBack = fds.at(0).revents; }});
    Sleep(50);
    EXPECT_EQ(waitedFor, 3);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].fd, 7);
    EXPECT_EQ(handedBack, POLLIN);

    bool ran = false;
    PostThreadMessage([&] { ran = true; });
    DiscardPostedMessages();
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg));
    EXPECT_FALSE(ran);
}

TEST_F(PumpTest, WithoutAGuiASignalIsTheEventThatLongWorkAndWaitsHear) {
    bool raised = false, heard = false;
    SetPumpWithoutGui([&] { return raised && !heard; }, [&] { heard = true; });
    SetAbandonTest([&] { return heard; });
    uint32_t now = 0;
    SetTickCountForTesting([&] { return now += 1000; });
    constexpr size_t kManySteps = 1u << 20;
    EXPECT_FALSE(KeepResponsive(kManySteps));
    raised = true; // Ctrl+C in the middle of a parse
    EXPECT_TRUE(KeepResponsive(kManySteps));
    // A wait takes it as its message, too.
    heard = false;
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg));
    DispatchMessage(&msg);
    EXPECT_TRUE(heard);
    SetAbandonTest(nullptr);
    SetTickCountForTesting(nullptr);
}

} // namespace
