#include "base/platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/logger.h"

namespace platform {
namespace {

// The link target of /proc/self/exe, read whole however long it is.
std::string executablePath()
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            logger(1, "olva ", "", "read link /proc/self/exe failed: %s", std::strerror(errno));
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

// Calls use(entry) with the user database's entry of the real user id, or
// with nullptr when there is none.
template <typename Use>
std::string withUserEntry(Use use)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return use(rc == 0 ? found : nullptr);
}

class SystemPaths final : public Paths {
public:
    std::string applicationDirectory() const override
    {
        // The executable does not move while the process runs.
        static const std::string directory = directoryOf(executablePath());
        return directory;
    }

    std::string executableName() const override
    {
        static const std::string name = fileNameOf(executablePath());
        return name;
    }

    std::string procRoot() const override { return "/proc"; }
    std::string sysRoot() const override { return "/sys"; }

    std::string loginName() const override
    {
        return withUserEntry([](const passwd* entry) {
            return std::string(entry && entry->pw_name ? entry->pw_name : "");
        });
    }

    std::string homeDirectory() const override
    {
        const char* home = std::getenv("HOME");
        if (home && *home)
            return home;
        return withUserEntry([](const passwd* entry) {
            return std::string(entry && entry->pw_dir ? entry->pw_dir : "");
        });
    }
};

const SystemPaths g_system_paths;
std::atomic<const Paths*> g_paths{&g_system_paths};

}  // namespace

const Paths& paths()
{
    return *g_paths.load(std::memory_order_acquire);
}

void setPaths(const Paths* replacement)
{
    g_paths.store(replacement ? replacement : &g_system_paths, std::memory_order_release);
}

std::string directoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string fileNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace platform
