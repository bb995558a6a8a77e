#include "platform/MessageWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(MessageWindow, WindowProcRunsOnlyOnTheOwnerInPostOrder)
{
    std::vector<Message> seen;
    std::vector<std::thread::id> threads;
    MessageWindow window([&](const Message& m) {
        seen.push_back(m);
        threads.push_back(std::this_thread::get_id());
    });

    constexpr int kPosters = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> posters;
    std::atomic<std::size_t> offThreadPumps{0};
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                window.Post(MM_MCINOTIFY, static_cast<std::uintptr_t>(p), i);
                offThreadPumps += window.Pump(); // not the owner: must do nothing
            }
        });
    for (auto& t : posters)
        t.join();
    EXPECT_EQ(offThreadPumps.load(), 0u);
    EXPECT_TRUE(seen.empty());

    EXPECT_EQ(window.Pump(), static_cast<std::size_t>(kPosters * kEach));
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kPosters * kEach));
    std::map<std::uintptr_t, std::intptr_t> next;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(threads[i], std::this_thread::get_id());
        EXPECT_EQ(seen[i].lParam, next[seen[i].wParam]++) << "one poster's messages keep their order";
    }
}

TEST(MessageWindow, MessagesPostedByTheProcRunOnTheNextPump)
{
    MessageWindow* self = nullptr;
    int runs = 0;
    MessageWindow window([&](const Message& m) {
        ++runs;
        if (m.msg == 1)
            self->Post(2);
    });
    self = &window;
    window.Post(1);
    EXPECT_EQ(window.Pump(), 1u);
    EXPECT_EQ(window.Waiting(), 1u);
    EXPECT_EQ(window.Pump(), 1u);
    EXPECT_EQ(runs, 2);
}

TEST(MessageWindow, WakeHookAndPumpForServeAnEventLoop)
{
    std::atomic<int> wakes{0};
    int runs = 0;
    MessageWindow window([&](const Message&) { ++runs; });
    window.SetWakeHook([&] { ++wakes; });
    std::thread poster([&] {
        std::this_thread::sleep_for(20ms);
        window.Post(WM_APP + 2);
    });
    EXPECT_EQ(window.PumpFor(5s), 1u);
    poster.join();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(window.PumpFor(10ms), 0u);
}

} // namespace
} // namespace vantrel::platform
