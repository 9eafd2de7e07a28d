#include "ukit/web_options.h"

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxExeLink = 255;

}  // namespace

bool is_installed_dir(const std::string& exe_dir)
{
    return exe_dir.find("/usr/share") != std::string::npos ||
           exe_dir.find("/opt/apps") != std::string::npos;
}

WebOptions default_web_options()
{
    WebOptions options;
    char link[kMaxExeLink + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", link, kMaxExeLink);
    if (length > 0) {
        const std::string exe(link, static_cast<std::size_t>(length));
        const std::size_t slash = exe.rfind('/');
        if (slash != std::string::npos)
            options.exe_dir = exe.substr(0, slash);
    }
    if (is_installed_dir(options.exe_dir)) {
        if (const passwd* user = getpwuid(getuid()))
            options.login = user->pw_name;
        options.home_dir = "/home/" + options.login;
    }
    return options;
}
