// Where the web service finds its directories and the system's sleep
// counter. default_web_options() reads the running process; tests point the
// fields at a temporary tree.
#pragma once

#include <string>

#include "ukit/upload_transfer.h"

struct WebOptions {
    // Directory of the executable, without a final '/'; empty when unknown.
    std::string exe_dir;
    // Login name of the real user; read only for an installed program.
    std::string login;
    // The user's home, "/home/" + login; the work directory of an installed
    // program lies below it.
    std::string home_dir;
    // False for an installed program whose directory the user cannot
    // write: its "config.ini" and "olva.ini" are then kept in the work
    // directory.
    bool app_dir_writable = true;
    std::string wakeup_count_path = "/sys/power/wakeup_count";
    UploadTimeouts upload_timeouts;
};

// The executable's directory and the sleep counter from platform::paths();
// for a program installed below "/usr/share" or "/opt/apps" also the login
// name and home.
WebOptions default_web_options();
