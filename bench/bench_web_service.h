// The web service of the benches: started over whatever library and bus the
// bench has set up, in an application directory of its own, keeping every
// browser that connects.
#pragma once

#include <filesystem>

#include "support/temp_dir.h"
#include "ukit/olva_mgr.h"

namespace olva_bench {

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
