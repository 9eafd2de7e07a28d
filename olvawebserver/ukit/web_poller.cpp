#include "ukit/web_poller.h"

#include <exception>
#include <utility>

#include "base/logger.h"

namespace web {

WebPoller::WebPoller(boost::asio::io_context& ioc, Timing timing, std::function<void()> check)
    : ioc_(ioc), timing_(timing), check_(std::move(check))
{
}

void WebPoller::run(const std::atomic<bool>& running)
{
    int polls = 0;
    while (running.load()) {
        serve(timing_.poll);
        // The pause waits inside the io_context, which a post wakes at once.
        serve(timing_.pause);
        if (++polls > timing_.check_after) {
            polls = 0;
            check_();
        }
    }
}

void WebPoller::serve(std::chrono::milliseconds time)
{
    try {
        ioc_.run_for(time);
    } catch (const std::exception& e) {
        logger(1, "userver", "", " web poll except: %s", e.what());
    }
}

}  // namespace web
