// Headless Chromium showing one page, read through its DevTools protocol
// over a Beast WebSocket client.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/web_client.h"

namespace olva_test {

class HeadlessBrowser {
public:
    // The browser program's name in PATH.
    static constexpr const char* kProgram = "chromium";

    HeadlessBrowser() = default;
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Starts the browser on url with a fresh profile in profile_dir and
    // attaches to the page; extra_flags go on its command line. False with
    // the reason in error.
    bool open(const std::string& url, const std::string& profile_dir, std::string* error,
              const std::vector<std::string>& extra_flags = {});
    // The value of a JavaScript expression in the page, as String() gives
    // it; nothing when it threw or no answer came.
    std::optional<std::string> evaluate(const std::string& expression);
    // Polls evaluate(expression) until its value holds needle; the last
    // value is left in last.
    bool wait_until_holds(const std::string& expression, const std::string& needle,
                          std::string* last = nullptr);

private:
    std::unique_ptr<ChildProcess> browser_;
    std::unique_ptr<WsClient> page_;
    int next_id_ = 1;
};

}  // namespace olva_test
