#include "base/logger.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include <pthread.h>
#include <unistd.h>

#include "base/filesystem.h"
#include "base/platform/clock.h"

namespace {

// A record's formatted text holds 1 to kMaxRecordText characters; a longer
// one is cut to fit and ends with a mark saying so.
constexpr int kRecordBufferSize = 1024;
constexpr int kMaxRecordText = kRecordBufferSize - 2;
constexpr const char* kCutMark = " [cut, %d characters in all]";
// Longest log directory and base name accepted by logger_init.
constexpr std::size_t kMaxNameLength = 255;
constexpr int kDumpRowBytes = 16;
// A day's file, and a day's standard output, stop growing here: a flood of
// bad input must not fill the disk (files are only cleared at start), nor
// whatever keeps the service's output.
constexpr long long kMaxDayFileBytes = 100LL * 1024 * 1024;

// What one stream took today, against the daily cap.
struct DayCap {
    long long bytes = 0;
    bool full = false;  // the cap was reached: nothing more today
};

struct LocalTime {
    std::tm tm{};
    int millisecond = 0;

    int date() const { return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday; }
};

// Never destroyed, so records written while the process exits, or after
// logger_close, stay serialised.
std::mutex g_logger_mutex;

std::atomic<int> g_logger_is_enable{1};
std::atomic<int> g_logger_base_level{4};
std::atomic<int> g_logger_keep_days{7};
std::atomic<unsigned int> g_logger_keep_times{864000};  // 10 days
std::atomic<int> g_logger_inited{0};
std::atomic<long long> g_logger_max_file_bytes{kMaxDayFileBytes};
// Guarded by g_logger_mutex.
int g_logger_openday = -1;  // date (YYYYMMDD) of the open file
std::string g_logger_path;
std::string g_logger_basename;
std::FILE* g_logger_fp = nullptr;
DayCap g_logger_file_cap;    // the open file, from its size when opened
DayCap g_logger_stdout_cap;  // standard output, since g_logger_stdout_day began
int g_logger_stdout_day = -1;

LocalTime get_local_time()
{
    const std::int64_t now_ms = platform::clock().wallMs();
    LocalTime local;
    const std::time_t seconds = static_cast<std::time_t>(now_ms / 1000);
    localtime_r(&seconds, &local.tm);
    local.millisecond = static_cast<int>(now_ms % 1000);
    return local;
}

const char* level_tag(int level)
{
    switch (level) {
    case 1: return "err ";
    case 2: return "warn";
    case 3: return "pmt ";
    default: return "    ";
    }
}

// Called with g_logger_mutex held.
void logger_open_file(const LocalTime& now)
{
    if (g_logger_fp) {
        std::fclose(g_logger_fp);
        g_logger_fp = nullptr;
    }
    g_logger_openday = -1;
    if (!g_logger_is_enable.load() || g_logger_path.empty())
        return;

    std::string file_name = g_logger_path + "/" + g_logger_basename;
    char date[40];
    std::snprintf(date, sizeof date, "-%04d%02d%02d.log", now.tm.tm_year + 1900,
                  now.tm.tm_mon + 1, now.tm.tm_mday);
    file_name += date;
    conv_dirsep(file_name.data());

    g_logger_fp = std::fopen(file_name.c_str(), "a+");
    if (!g_logger_fp)
        return;
    g_logger_openday = now.date();
    std::fseek(g_logger_fp, 0, SEEK_END);
    g_logger_file_cap.bytes = std::max(0L, std::ftell(g_logger_fp));
    // A file left full by an earlier run already says so.
    g_logger_file_cap.full = g_logger_file_cap.bytes >= g_logger_max_file_bytes.load();
}

// Whether a record of bytes still fits today's cap of the stream. The first
// record that does not is replaced by one line saying that the rest of the
// day's records are dropped. Called with g_logger_mutex held.
bool fits_day_cap(DayCap& day, std::FILE* stream, const char* what, std::size_t bytes)
{
    if (day.full)
        return false;
    const long long cap = g_logger_max_file_bytes.load();
    if (day.bytes + static_cast<long long>(bytes) <= cap) {
        day.bytes += static_cast<long long>(bytes);
        return true;
    }
    day.full = true;
    day.bytes += std::fprintf(stream, "%s reached its cap of %lld bytes: the rest of today's records are dropped\n",
                              what, cap);
    std::fflush(stream);
    return false;
}

bool fits_day_file(std::size_t bytes)
{
    return fits_day_cap(g_logger_file_cap, g_logger_fp, "log file", bytes);
}

// Standard output's day starts with the first record of the day, whether a
// file is open or not. Called with g_logger_mutex held.
bool fits_day_stdout(const LocalTime& now, std::size_t bytes)
{
    if (g_logger_stdout_day != now.date()) {
        g_logger_stdout_day = now.date();
        g_logger_stdout_cap = DayCap{};
    }
    return fits_day_cap(g_logger_stdout_cap, stdout, "log output", bytes);
}

// Formats a record's text into text (kRecordBufferSize bytes) with "\n"
// after it; false when the text is empty or cannot be formatted. A text
// longer than kMaxRecordText is cut at a character boundary and marked, so
// that the record is still written and stays valid UTF-8.
bool format_record(char* text, const char* format, va_list args)
{
    const int length = std::vsnprintf(text, kMaxRecordText + 1, format, args);
    if (length < 1)
        return false;
    int end = length;
    if (length > kMaxRecordText) {
        char mark[64];
        const int mark_length = std::snprintf(mark, sizeof mark, kCutMark, length);
        end = kMaxRecordText - mark_length;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;  // not inside a UTF-8 sequence
        std::memcpy(text + end, mark, static_cast<std::size_t>(mark_length));
        end += mark_length;
    }
    text[end] = '\n';
    text[end + 1] = '\0';
    return true;
}

// Called with g_logger_mutex held: reopens the file when the day changed.
void check_day(const LocalTime& now)
{
    if (g_logger_inited.load() && (!g_logger_fp || g_logger_openday != now.date()))
        logger_open_file(now);
}

// Writes one record to the open file and to standard output. text ends in
// "\n". Called with g_logger_mutex held.
void logger_write(const LocalTime& now, int level, const char* module, const char* tag,
                  const char* text)
{
    char prefix[160];
    int length = std::snprintf(prefix, sizeof prefix, "%d-%02d-%02d %02d:%02d:%02d:%03d %p  %s ",
                               now.tm.tm_year + 1900, now.tm.tm_mon + 1, now.tm.tm_mday,
                               now.tm.tm_hour, now.tm.tm_min, now.tm.tm_sec, now.millisecond,
                               reinterpret_cast<void*>(pthread_self()), level_tag(level));
    if (module)
        length += std::snprintf(prefix + length, sizeof prefix - length, "%-8.64s ", module);
    if (tag)
        std::snprintf(prefix + length, sizeof prefix - length, "%-8.64s ", tag);

    const std::size_t bytes = std::strlen(prefix) + std::strlen(text);
    if (g_logger_is_enable.load() && g_logger_fp && fits_day_file(bytes)) {
        std::fputs(prefix, g_logger_fp);
        std::fputs(text, g_logger_fp);
        std::fflush(g_logger_fp);
    }
    if (fits_day_stdout(now, bytes)) {
        std::fputs(prefix, stdout);
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
}

std::string dump_row(const unsigned char* row, int count, unsigned long offset)
{
    char cell[32];
    std::snprintf(cell, sizeof cell, "%04lx  ", offset);
    std::string text = cell;
    for (int i = 0; i < count; ++i) {
        std::snprintf(cell, sizeof cell, " %02x", row[i]);
        text += cell;
    }
    text.append(static_cast<std::size_t>(3 * (kDumpRowBytes - count)) + 3, ' ');
    for (int i = 0; i < count; ++i)
        text += (row[i] >= 0x20 && row[i] < 0x7f) ? static_cast<char>(row[i]) : '.';
    text += '\n';
    return text;
}

}  // namespace

int logger_init(const char* dir, const char* name)
{
    std::string base;
    if (dir) {
        base = dir;
    } else {
        char cwd[4096];
        base = getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    std::string path = base + "/olva-log";
    std::string basename = name ? name : "";
    if (path.size() > kMaxNameLength || basename.size() > kMaxNameLength) {
        std::fprintf(stderr, "logger_init: log directory or name longer than %zu characters\n",
                     kMaxNameLength);
        return -1;
    }
    conv_dirsep(path.data());
    conv_dirsep(basename.data());

    // Outside the lock: mkdir_tree reports its failures through the logger.
    mkdir_tree((path + "/").c_str(), nullptr);

    std::lock_guard lock(g_logger_mutex);
    g_logger_path = path;
    g_logger_basename = basename;
    logger_open_file(get_local_time());
    if (g_logger_fp && fits_day_file(1)) {
        std::fputs("\n", g_logger_fp);
        std::fflush(g_logger_fp);
    }
    g_logger_inited.store(1);
    return 0;
}

void logger_close()
{
    std::lock_guard lock(g_logger_mutex);
    if (g_logger_fp) {
        std::fclose(g_logger_fp);
        g_logger_fp = nullptr;
    }
    g_logger_openday = -1;
}

void loger_clear()
{
    // Writes nothing, but reopens the file when the day has changed.
    logger(-1, "log", "", "%s", "");
    if (!g_logger_inited.load())
        return;
    std::string path;
    {
        std::lock_guard lock(g_logger_mutex);
        path = g_logger_path;
    }
    clear_dir(path.c_str(), g_logger_keep_times.load());
}

void logger(int level, const char* module, const char* tag, const char* format, ...)
{
    if (level != -1 && level > g_logger_base_level.load())
        return;

    std::lock_guard lock(g_logger_mutex);
    const LocalTime now = get_local_time();
    check_day(now);

    char text[kRecordBufferSize];
    va_list args;
    va_start(args, format);
    const bool formatted = format_record(text, format, args);
    va_end(args);
    if (formatted)
        logger_write(now, level, module, tag, text);
}

void logger_dump(int level, const char* module, const char* tag, const char* data,
                 unsigned long length)
{
    if (level != -1 && level > g_logger_base_level.load())
        return;

    char header[64];
    std::snprintf(header, sizeof header, "dump %lu at %p = \n", length,
                  static_cast<const void*>(data));
    std::string record = header;

    std::lock_guard lock(g_logger_mutex);
    const LocalTime now = get_local_time();
    check_day(now);

    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    for (unsigned long offset = 0; bytes && offset < length; offset += kDumpRowBytes) {
        const int count = static_cast<int>(std::min<unsigned long>(kDumpRowBytes, length - offset));
        std::string row = dump_row(bytes + offset, count, offset);
        // A long dump goes out as several records, split between rows.
        if (record.size() + row.size() > static_cast<std::size_t>(kMaxRecordText)) {
            logger_write(now, level, module, tag, record.c_str());
            record.clear();
        }
        record += row;
    }
    if (!record.empty())
        logger_write(now, level, module, tag, record.c_str());
}

int logger_is_enable() { return g_logger_is_enable.load(); }
void logger_enable(int flag) { g_logger_is_enable.store(flag != 0); }
int logger_inited() { return g_logger_inited.load(); }
int logger_get_base_level() { return g_logger_base_level.load(); }
void logger_set_base_level(int level) { g_logger_base_level.store(level); }
int logger_get_keep_days() { return g_logger_keep_days.load(); }
void logger_set_max_file_size(long long bytes) { g_logger_max_file_bytes.store(bytes); }
long long logger_default_max_file_size() { return kMaxDayFileBytes; }

void logger_set_keep_days(int days)
{
    if (days < 0)
        return;
    g_logger_keep_days.store(days);
    g_logger_keep_times.store(static_cast<unsigned int>(days) * 86400u);
}

std::string logger_get_path()
{
    std::lock_guard lock(g_logger_mutex);
    return g_logger_path;
}

log_inoutto::log_inoutto(const char* name, int level, const char* module, const char* tag,
                         const char* text)
    : name_(name), level_(level), module_(module), tag_(tag)
{
    logger(level_, module_, tag_, "%s++  %s", name_, text ? text : "");
}

log_inoutto::~log_inoutto()
{
    logger(level_, module_, tag_, "%s--", name_);
}
