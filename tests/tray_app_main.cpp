// The tray program over the fake device library, for the tray tests. Its
// own options are taken off the command line before the toolkit sees it:
//   --app-dir=DIR       the application directory ("config.ini", "webroot")
//   --browser-log=FILE  each URL handed to the browser is appended to FILE
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/fake_paths.h"
#include "utaskbar/local_pages.h"
#include "utaskbar/olva_app.h"

namespace {

bool take_option(const char* arg, const char* name, std::string& value)
{
    const std::size_t length = std::strlen(name);
    if (std::strncmp(arg, name, length) != 0)
        return false;
    value = arg + length;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    olva_test::FakePaths paths;
    std::vector<char*> toolkit_args;
    std::string app_dir;
    std::string browser_log;
    for (int i = 0; i < argc; ++i) {
        if (i > 0 && (take_option(argv[i], "--app-dir=", app_dir) ||
                      take_option(argv[i], "--browser-log=", browser_log)))
            continue;
        toolkit_args.push_back(argv[i]);
    }
    toolkit_args.push_back(nullptr);
    if (!app_dir.empty())
        paths.setApplicationDirectory(app_dir);
    if (!browser_log.empty()) {
        set_browser_opener([browser_log](const std::string& url) {
            std::ofstream log(browser_log, std::ios::app);
            log << url << '\n';
            return static_cast<bool>(log);
        });
    }
    return olva_tray_main(static_cast<int>(toolkit_args.size()) - 1, toolkit_args.data());
}
