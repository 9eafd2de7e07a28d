// Path helpers: directory separators, directory tests, directory creation,
// the removal of old files below a directory, and whole writes.
#pragma once

#include <string>

// Replaces every '\\' by '/' in place; returns the number changed, -1 for null.
int conv_dirsep(char* path);

// 0 when path names a directory (links followed), else -1.
int dir_exist(const char* path);

// Creates the missing directories of path. The part after the last '/' is
// never created, so a directory path must end with '/'. work, when given,
// must hold 4096 bytes. Returns dir_exist(path).
int mkdir_tree(const char* path, char* work);

// Removes the files below dir that are at least keep_seconds old (every file
// when keep_seconds is 0) and the subdirectories left empty; dir itself stays.
// Links are removed or kept like files and never followed.
void clear_dir(const char* dir, unsigned long keep_seconds);

// Writes all of text to fd, going on after a short write or EINTR; false
// (errno set) when a write fails.
bool write_all(int fd, const std::string& text);
