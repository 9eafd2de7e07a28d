#include "base/base_ini.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/filesystem.h"

namespace {

// The longest entry line written: what the reader has always handled.
constexpr std::size_t kMaxEntryLine = 511;
constexpr std::size_t kMaxSectionName = 255;

// Guards every INI read and write in the process: the library and the web
// service rewrite the same files from different threads.
std::mutex g_ini_mutex;

std::string_view trim_blanks(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string_view strip_line_end(std::string_view line)
{
    const auto end = line.find_first_of("\r\n");
    return end == std::string_view::npos ? line : line.substr(0, end);
}

bool is_section_header(std::string_view line, std::string_view header)
{
    return trim_blanks(strip_line_end(line)) == header;
}

enum class KeyMatch { None, Entry, BareKey };

// Whether line is the entry of key; value receives the text after '='.
KeyMatch match_key(std::string_view line, std::string_view key, std::string_view* value)
{
    const std::string_view content = strip_line_end(line);
    const auto equals = content.find('=');
    if (equals == std::string_view::npos)
        return trim_blanks(content) == key ? KeyMatch::BareKey : KeyMatch::None;
    if (trim_blanks(content.substr(0, equals)) != key)
        return KeyMatch::None;
    if (value)
        *value = content.substr(equals + 1);
    return KeyMatch::Entry;
}

bool build_header(const char* section, char (&header)[kMaxSectionName + 1])
{
    const int length = std::snprintf(header, sizeof header, "[%s]", section);
    return length > 0 && static_cast<std::size_t>(length) <= kMaxSectionName;
}

std::vector<std::string> read_lines(std::ifstream& in)
{
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!in.eof())
            line += '\n';
        lines.push_back(std::move(line));
    }
    return lines;
}

// The new file's lines: entry replaces every line of key in the section, or
// is added at the section's end; a missing section is appended.
std::vector<std::string> place_entry(std::vector<std::string> lines, std::string_view header,
                                     const std::string& entry, std::string_view key)
{
    bool in_section = false;
    bool section_seen = false;
    bool replaced = false;
    std::size_t insert_at = lines.size();

    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (!in_section) {
            if (!section_seen && is_section_header(line, header)) {
                in_section = section_seen = true;
                insert_at = i + 1;
            }
            continue;
        }
        if (!line.empty() && line[0] == '[') {
            in_section = false;
            continue;
        }
        // line views lines[i]: everything read from it comes before the
        // replacement, which may free its text.
        if (!trim_blanks(strip_line_end(line)).empty())
            insert_at = i + 1;
        if (match_key(line, key, nullptr) == KeyMatch::Entry) {
            lines[i] = entry;
            replaced = true;
        }
    }

    if (!section_seen) {
        if (!lines.empty() && lines.back().back() != '\n')
            lines.back() += "\r\n";
        lines.push_back(std::string(header) + "\r\n");
        lines.push_back(entry);
    } else if (!replaced) {
        if (insert_at > 0 && lines[insert_at - 1].back() != '\n')
            lines[insert_at - 1] += "\r\n";
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert_at), entry);
    }
    return lines;
}

// Writes lines to a temporary file beside path and renames it over path, so
// that a failed write leaves the old file whole.
bool replace_file(const char* path, const std::vector<std::string>& lines)
{
    std::string temp = std::string(path) + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        std::printf("%s err.\n", "IniWriteValue");
        return false;
    }

    struct stat st {};
    const mode_t umask_now = umask(0);
    umask(umask_now);
    const mode_t mode = stat(path, &st) == 0 ? (st.st_mode & 07777) : (0666 & ~umask_now);
    bool ok = fchmod(fd, mode) == 0;
    for (const std::string& line : lines)
        ok = ok && write_all(fd, line);
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path) == 0;
    if (!ok) {
        std::printf("%s err.\n", "IniWriteValue");
        ::unlink(temp.c_str());
    }
    return ok;
}

}  // namespace

int IniReadValue(const char* header, const char* key, char* value, const char* path,
                 std::size_t value_size)
{
    if (!header || !key || !*key || !value || !path || value_size == 0)
        return -1;

    std::lock_guard lock(g_ini_mutex);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return -1;

    std::string line;
    bool section_found = false;
    while (!section_found && std::getline(in, line)) {
        if (line.empty() || line[0] == '\0' || line[0] == '\r' || line[0] == ';')
            continue;
        section_found = is_section_header(line, header);
    }
    if (!section_found)
        return -1;

    bool found = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[')
            break;
        std::string_view candidate;
        const KeyMatch match = match_key(line, key, &candidate);
        if (match == KeyMatch::BareKey)
            break;
        if (match == KeyMatch::Entry) {
            // The last entry of the key wins.
            const std::size_t length = std::min(candidate.size(), value_size - 1);
            std::memcpy(value, candidate.data(), length);
            value[length] = '\0';
            found = true;
        }
    }
    return found ? 0 : -1;
}

int readStringValue(const char* section, const char* key, char* value, const char* path,
                    std::size_t value_size)
{
    if (!section || !key || !value || !path)
        return -1;
    char header[kMaxSectionName + 1];
    if (!build_header(section, header))
        return -1;
    return IniReadValue(header, key, value, path, value_size);
}

int readIntValue(const char* section, const char* key, const char* path)
{
    char value[INI_VALUE_SIZE];
    if (readStringValue(section, key, value, path) != 0)
        return -1;

    const char* p = value;
    while (*p == ' ' || *p == '\t')
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    long long number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -number : number);
}

int IniWriteValue(const char* header, const char* key, const char* value, const char* path)
{
    if (!header || !key || !*key || !value || !path)
        return -1;
    const std::string entry = std::string(key) + "=" + value + "\r\n";
    if (entry.size() > kMaxEntryLine || std::strpbrk(value, "\r\n") || std::strpbrk(key, "\r\n="))
        return -1;

    std::lock_guard lock(g_ini_mutex);
    std::vector<std::string> lines;
    {
        std::ifstream in(path, std::ios::binary);
        if (in)
            lines = read_lines(in);
        else
            std::printf("%s: Opent file %s failed.\n", "base_ini", path);
    }
    lines = place_entry(std::move(lines), header, entry, key);
    return replace_file(path, lines) ? 0 : -1;
}

int writeStringVlaue(const char* section, const char* key, const char* value, const char* path)
{
    if (!section || !key || !value || !path) {
        std::printf("%s: input parameter(s) is NULL!\n", "writeStringVlaue");
        return -1;
    }
    char header[kMaxSectionName + 1];
    if (!build_header(section, header))
        return -1;
    return IniWriteValue(header, key, value, path);
}

int writeIntValue(const char* section, const char* key, int value, const char* path)
{
    char text[16];
    std::snprintf(text, sizeof text, "%-4d", value);
    return writeStringVlaue(section, key, text, path);
}
