#include "base/filesystem.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/logger.h"
#include "base/platform/clock.h"

namespace {

constexpr std::size_t kPathBufferSize = 4096;

// The helpers report only once the logger writes to a file, so that early
// start-up does not clutter standard output.
template <typename... Args>
void fs_error(const char* format, Args... args)
{
    if (logger_inited())
        logger(1, "fs", "", format, "mkdir_tree", args...);
}

bool is_directory(const char* path)
{
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Returns the number of files kept below dir.
int clear_level(std::string& dir, std::int64_t now, unsigned long keep_seconds)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return 0;

    int kept = 0;
    const std::size_t base_length = dir.size();
    while (const dirent* entry = readdir(d)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        dir.resize(base_length);
        dir += '/';
        dir += entry->d_name;

        struct stat st {};
        if (lstat(dir.c_str(), &st) != 0)
            continue;

        if (S_ISDIR(st.st_mode)) {
            const int below = clear_level(dir, now, keep_seconds);
            if (below == 0)
                rmdir(dir.c_str());
            else
                kept += below;
            continue;
        }

        // Signed: a file dated in the future has a negative age and stays.
        const std::int64_t age = now - static_cast<std::int64_t>(st.st_mtime);
        if (keep_seconds != 0 && age < static_cast<std::int64_t>(keep_seconds))
            ++kept;
        else
            unlink(dir.c_str());
    }
    closedir(d);
    dir.resize(base_length);
    return kept;
}

}  // namespace

int conv_dirsep(char* path)
{
    if (!path)
        return -1;
    int changed = 0;
    for (char* p = path; *p; ++p) {
        if (*p == '\\') {
            *p = '/';
            ++changed;
        }
    }
    return changed;
}

int dir_exist(const char* path)
{
    if (!path)
        return -1;
    std::string copy(path);
    for (char& c : copy)
        if (c == '\\')
            c = '/';
    while (copy.size() > 1 && copy.back() == '/')
        copy.pop_back();
    return is_directory(copy.c_str()) ? 0 : -1;
}

int mkdir_tree(const char* path, char* work)
{
    if (!path)
        return -1;
    const std::size_t length = std::strlen(path);
    if (length == 0 || length >= kPathBufferSize) {
        fs_error("%s   strlen(%s)=%d is wrong", path, static_cast<int>(length));
        return -1;
    }

    std::string own;
    char* buffer = work;
    if (!buffer) {
        own.assign(kPathBufferSize, '\0');
        buffer = own.data();
    }
    std::memcpy(buffer, path, length + 1);
    conv_dirsep(buffer);

    for (char* slash = std::strchr(buffer + 1, '/'); slash; slash = std::strchr(slash + 1, '/')) {
        *slash = '\0';
        struct stat st {};
        if (stat(buffer, &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                fs_error("%s   '%s' exist but no dir", buffer);
                break;
            }
        } else if (mkdir(buffer, 0755) != 0 && errno != EEXIST) {
            // EEXIST: another thread made it between our look and our mkdir.
            fs_error("%s   mkdir '%s' failed", buffer);
            break;
        }
        *slash = '/';
    }
    return dir_exist(path);
}

void clear_dir(const char* dir, unsigned long keep_seconds)
{
    if (dir_exist(dir) != 0)
        return;
    std::string work(dir);
    work.reserve(kPathBufferSize);
    clear_level(work, platform::clock().wallSeconds(), keep_seconds);
}

bool write_all(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}
