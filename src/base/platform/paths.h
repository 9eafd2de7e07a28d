// Where the process finds itself and the system: the application directory,
// the roots of /proc and /sys, and the user. Everything that reads these goes
// through paths(), so that a test can point it at a tree of its own.
#pragma once

#include <string>

namespace platform {

class Paths {
public:
    virtual ~Paths() = default;
    // The directory that holds the executable, without a trailing '/'
    // ("/opt/olva" for "/opt/olva/olvakit"); empty when it cannot be read.
    virtual std::string applicationDirectory() const = 0;
    // The executable's file name ("olvakit"); empty when it cannot be read.
    virtual std::string executableName() const = 0;
    // "/proc" and "/sys" on a real system.
    virtual std::string procRoot() const = 0;
    virtual std::string sysRoot() const = 0;
    // The login name of the real user id from the user database; empty when
    // the user has no entry.
    virtual std::string loginName() const = 0;
    // $HOME, or the user database's home directory when $HOME is unset or
    // empty; empty when neither is known.
    virtual std::string homeDirectory() const = 0;
};

// The paths in use: the real ones unless a test installed its own.
const Paths& paths();

// Installs paths; nullptr restores the real ones. The caller keeps the
// object alive for as long as it is installed.
void setPaths(const Paths* replacement);

// The text of path before its last '/' ("" for "/olva" and for a text
// without '/').
std::string directoryOf(const std::string& path);

// The text of path after its last '/' (the whole text when it has none).
std::string fileNameOf(const std::string& path);

}  // namespace platform
