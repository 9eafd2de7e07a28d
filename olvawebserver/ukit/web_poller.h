// The web thread's loop over its io_context: polls of network work, each
// followed by a pause, and a check after a number of polls. Work posted to
// the io_context (device events, upload results) and network events wake
// the thread during the pause as well, so that nothing waits the pause out;
// the pause still lasts its full time, so the polls keep their cadence.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include <boost/asio/io_context.hpp>

namespace web {

class WebPoller {
public:
    struct Timing {
        std::chrono::milliseconds poll;   // network work
        std::chrono::milliseconds pause;  // between two polls
        int check_after;                  // the check follows every check_after + 1 polls
    };

    WebPoller(boost::asio::io_context& ioc, Timing timing, std::function<void()> check);

    // Polls until running is false; the flag is read after every poll.
    void run(const std::atomic<bool>& running);

private:
    // Runs the io_context's handlers for up to the given time; an exception
    // from a handler is logged and ends that stretch.
    void serve(std::chrono::milliseconds time);

    boost::asio::io_context& ioc_;
    Timing timing_;
    std::function<void()> check_;
};

}  // namespace web
