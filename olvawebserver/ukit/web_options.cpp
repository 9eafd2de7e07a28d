#include "ukit/web_options.h"

#include "platform/paths.h"

bool is_installed_dir(const std::string& exe_dir)
{
    return exe_dir.find("/usr/share") != std::string::npos ||
           exe_dir.find("/opt/apps") != std::string::npos;
}

WebOptions default_web_options()
{
    const platform::Paths& paths = platform::paths();
    WebOptions options;
    options.exe_dir = paths.applicationDirectory();
    options.wakeup_count_path = paths.sysRoot() + "/power/wakeup_count";
    if (is_installed_dir(options.exe_dir)) {
        options.login = paths.loginName();
        // The work directory lies under "/home/<login>", whatever $HOME says.
        options.home_dir = "/home/" + options.login;
    }
    return options;
}
