// One value read from, or written into, a section of a small INI file:
//
//   [CONFIG]<CR><LF>
//   HttpPort=8054<CR><LF>
//
// A key matches the text before '=' with the blanks around it trimmed; a
// section header matches the whole line. Every call opens the file; a write
// rewrites it through a temporary file renamed over the old one. One
// process-wide mutex serialises every read and write.
#pragma once

#include <cstddef>

// The size of the value buffer every caller passes; longer values are cut.
constexpr std::size_t INI_VALUE_SIZE = 256;

// header is the section header text ("[" + name + "]"). Returns 0 found,
// -1 not found or file not readable.
int IniReadValue(const char* header, const char* key, char* value, const char* path,
                 std::size_t value_size = INI_VALUE_SIZE);
int readStringValue(const char* section, const char* key, char* value, const char* path,
                    std::size_t value_size = INI_VALUE_SIZE);
// The value as a decimal integer (no digits gives 0); -1 when missing.
int readIntValue(const char* section, const char* key, const char* path);

// Returns 0 written, -1 failed.
int IniWriteValue(const char* header, const char* key, const char* value, const char* path);
int writeStringVlaue(const char* section, const char* key, const char* value, const char* path);
// Stores the value formatted "%-4d".
int writeIntValue(const char* section, const char* key, int value, const char* path);
