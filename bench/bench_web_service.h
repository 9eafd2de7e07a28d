// The web service of the benches: started over whatever library and bus the
// bench has set up, in an application directory of its own, keeping every
// browser that connects; and the time a browser reads an event.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_dir.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"

namespace olva_bench {

// The next message at the client that starts with text, with the time it
// was read; false when none came.
inline bool read_event(olva_test::WsClient& client, const char* text,
                       std::chrono::steady_clock::time_point& read_at)
{
    for (;;) {
        const std::optional<std::string> message = client.read();
        if (!message)
            return false;
        if (message->rfind(text, 0) == 0) {
            read_at = std::chrono::steady_clock::now();
            return true;
        }
    }
}

// True when uWebMgr runs; its port is uWebMgr.http_port().
inline bool start_web_service(const olva_test::TempDir& app_dir)
{
    std::filesystem::create_directories(app_dir.file("webroot"));
    olva_test::writeFile(app_dir.file("wakeup_count"), "7\n");
    olva_test::writeFile(app_dir.file("config.ini"), "[CONFIG]\nHttpPort=0\nkeep_only_conncet=0\n");
    WebOptions options;
    options.exe_dir = app_dir.path();
    options.wakeup_count_path = app_dir.file("wakeup_count");
    return uWebMgr.init_uWeb(options) == 0;
}

}  // namespace olva_bench
