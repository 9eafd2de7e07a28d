// Which files the browser may have served or deleted over HTTP: log files by
// their bare names inside the log directory, and recordings, which are
// regular ".wav" and ".mp3" files. Anything else is refused, so that a page
// cannot read "../config.ini" or the user's own files through the service.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace web {

// A name without a directory part: not empty, no '/', not "." or "..".
bool is_bare_file_name(std::string_view name);

// The log file dir + name when name is bare and names a regular file there
// (a link is refused: it could lead out of the directory).
std::optional<std::string> log_file_path(const std::string& dir, const std::string& name);

// The path with every link and ".." resolved, when it names a regular file
// whose name ends in ".wav" or ".mp3" (either case). A relative path starts
// at the current directory.
std::optional<std::string> audio_file_path(const std::string& path);

// Whether a browser command may act on path: a file audio_file_path accepts,
// or a ".wav" or ".mp3" name under which nothing exists yet (the library then
// answers that there is no such file, as it always has). Links are judged by
// what they lead to; a link is never taken for its target by the deletion.
bool is_recording_path(const std::string& path);

// Whether a browser may have path uploaded, or its size stored with a call
// record: a name ending in ".wav" or ".mp3" (either case) that, when
// something is there, is a regular file itself: a link is not followed, a
// FIFO or a device is refused. A name under which nothing exists passes;
// its upload then fails to open it, as an upload of a file that has gone
// always has.
bool is_upload_path(const std::string& path);

// Opens path for reading when it is a regular file itself, without waiting
// on anything: a link is not followed, nothing else (FIFO, device, folder)
// is ever opened, and a FIFO put there after the check is opened without
// blocking, then refused. The descriptor (close-on-exec, non-blocking), or
// -1 with errno set: ELOOP for a link, EINVAL for what is not a regular
// file.
int open_regular_file(const std::string& path);

// Opens path for reading as an upload does: open_regular_file() of a name
// ending in ".wav" or ".mp3"; EINVAL for any other name.
int open_upload_file(const std::string& path);

}  // namespace web
