#include "ukit/file_rules.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace web {
namespace {

constexpr std::string_view kAudioExtensions[] = {".wav", ".mp3"};

bool has_audio_extension(const std::string& name)
{
    return std::any_of(std::begin(kAudioExtensions), std::end(kAudioExtensions), [&](std::string_view ext) {
        return name.size() >= ext.size() &&
               std::equal(ext.begin(), ext.end(), name.end() - static_cast<std::ptrdiff_t>(ext.size()),
                          [](char e, char c) { return e == std::tolower(static_cast<unsigned char>(c)); });
    });
}

}  // namespace

bool is_bare_file_name(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::optional<std::string> log_file_path(const std::string& dir, const std::string& name)
{
    if (!is_bare_file_name(name))
        return std::nullopt;
    std::string path = dir + name;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)))
        return std::nullopt;
    return path;
}

std::optional<std::string> audio_file_path(const std::string& path)
{
    if (path.empty())
        return std::nullopt;
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    if (ec || !std::filesystem::is_regular_file(resolved, ec))
        return std::nullopt;
    std::string text = resolved.string();
    if (!has_audio_extension(text))
        return std::nullopt;
    return text;
}

bool is_recording_path(const std::string& path)
{
    if (audio_file_path(path))
        return true;
    std::error_code ec;
    return has_audio_extension(path) &&
           std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::not_found;
}

bool is_upload_path(const std::string& path)
{
    if (!has_audio_extension(path))
        return false;
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::symlink_status(path, ec).type();
    return type == std::filesystem::file_type::regular || type == std::filesystem::file_type::not_found;
}

int open_regular_file(const std::string& path)
{
    // Looked at before opening, so that no device is ever opened.
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return -1;
    if (S_ISLNK(st.st_mode)) {
        errno = ELOOP;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

int open_upload_file(const std::string& path)
{
    if (!has_audio_extension(path)) {
        errno = EINVAL;
        return -1;
    }
    return open_regular_file(path);
}

}  // namespace web
