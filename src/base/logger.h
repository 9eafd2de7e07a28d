// The process-wide logger: one record per call, written to a daily file
// "<dir>/olva-log/<name>-YYYYMMDD.log" and always copied to standard output.
//
// Levels: -1 always written, 1 error, 2 warning, 3 function entry and exit,
// 4 information. Records above the base level (4 at start) are dropped.
#pragma once

#include <string>

// Starts or restarts the logger under dir (null: the current directory).
// Returns 0, or -1 when the directory text is too long to be a log path.
int logger_init(const char* dir, const char* name);

// Closes the day's file. Records written afterwards reopen it.
void logger_close();

// Removes the log files older than the keep time (10 days).
void loger_clear();

// A text longer than 1022 characters is written cut to that length, ending
// in a mark that says it was cut and how long it was; an empty one is not
// written.
void logger(int level, const char* module, const char* tag, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Writes a hex dump of length bytes at data as one record (several records
// when the dump is longer than one record holds).
void logger_dump(int level, const char* module, const char* tag, const char* data,
                 unsigned long length);

int logger_is_enable();
void logger_enable(int flag);
int logger_inited();
int logger_get_base_level();
void logger_set_base_level(int level);
int logger_get_keep_days();
void logger_set_keep_days(int days);
// A day's file, and a day's standard output, each stop at this size (100 MB
// unless set): the records that do not fit are dropped, and the stream says
// so in one line.
void logger_set_max_file_size(long long bytes);
long long logger_default_max_file_size();
// The log directory ("<dir>/olva-log"), empty before logger_init.
std::string logger_get_path();

// Scope tracer: logs "<name>++  <text>" when made and "<name>--" when it ends.
class log_inoutto {
public:
    log_inoutto(const char* name, int level, const char* module, const char* tag,
                const char* text);
    ~log_inoutto();
    log_inoutto(const log_inoutto&) = delete;
    log_inoutto& operator=(const log_inoutto&) = delete;

private:
    const char* name_;
    int level_;
    const char* module_;
    const char* tag_;
};
