#include "ukit/web_options.h"

#include "base/platform/paths.h"
#include "base/platform/settings_dir.h"

WebOptions default_web_options()
{
    const platform::Paths& paths = platform::paths();
    WebOptions options;
    options.exe_dir = paths.applicationDirectory();
    options.wakeup_count_path = paths.sysRoot() + "/power/wakeup_count";
    options.app_dir_writable = platform::canWriteDirectory(options.exe_dir);
    if (platform::isInstalledDirectory(options.exe_dir)) {
        options.login = paths.loginName();
        // The work directory lies under "/home/<login>", whatever $HOME says.
        options.home_dir = "/home/" + options.login;
    }
    return options;
}
