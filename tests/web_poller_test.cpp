// The web thread's loop: posted work runs during the pause between two
// polls instead of after it, and the loop stops by its flag.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "support/eventually.h"
#include "ukit/web_poller.h"

namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

class WebPollerTest : public ::testing::Test {
protected:
    boost::asio::io_context ioc_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_{ioc_.get_executor()};
    std::atomic<bool> running_{true};
};

// A pause of an hour: whatever is posted while the thread is in it must run
// long before the pause could end by itself.
TEST_F(WebPollerTest, PostedWorkRunsDuringThePause)
{
    std::atomic<int> checks{0};
    web::WebPoller poller(ioc_, {0ms, std::chrono::hours(1), 200}, [&] { ++checks; });
    std::thread web([&] { poller.run(running_); });

    std::atomic<int> ran{0};
    for (int i = 1; i <= 3; ++i) {
        boost::asio::post(ioc_, [&] { ++ran; });
        EXPECT_TRUE(olva_test::eventually([&] { return ran.load() == i; })) << "post " << i;
    }
    // Woken, the pause goes on: no further poll has been made.
    EXPECT_EQ(checks.load(), 0);

    running_ = false;
    ioc_.stop();
    web.join();
}

// With a count of 0 the check follows every poll; the loop reads the flag
// before each poll and ends at once when it has fallen.
TEST_F(WebPollerTest, TheLoopEndsAtTheFirstPollAfterTheFlagFell)
{
    int checks = 0;
    web::WebPoller poller(ioc_, {0ms, 0ms, 0}, [&] {
        if (++checks == 3)
            running_ = false;
    });
    poller.run(running_);
    EXPECT_EQ(checks, 3);
}

}  // namespace
