#include "base/platform/settings_dir.h"

#include <unistd.h>

#include "base/platform/paths.h"

namespace platform {

bool isInstalledDirectory(const std::string& app_dir)
{
    return app_dir.find("/usr/share") != std::string::npos ||
           app_dir.find("/opt/apps") != std::string::npos;
}

std::string userWorkDirectory(const std::string& home)
{
    return home + "/uWebWorkDir";
}

bool canWriteDirectory(const std::string& dir)
{
    return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0;
}

std::string chooseSettingsDirectory(const std::string& app_dir, const std::string& work_dir,
                                    bool app_dir_writable)
{
    if (app_dir_writable || work_dir.empty())
        return app_dir;
    return work_dir;
}

std::string settingsDirectory()
{
    const std::string app_dir = paths().applicationDirectory();
    if (!isInstalledDirectory(app_dir))
        return app_dir;
    // The same home as the web service's: "/home/<login>", whatever $HOME says.
    return chooseSettingsDirectory(app_dir, userWorkDirectory("/home/" + paths().loginName()),
                                   canWriteDirectory(app_dir));
}

}  // namespace platform
