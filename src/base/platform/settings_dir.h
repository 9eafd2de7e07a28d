// Where the INI files "config.ini" and "olva.ini" are kept. A program run
// from its build tree keeps them beside itself; an installed one, whose
// directory the desktop user cannot write, keeps them in the user's work
// directory, seeded from the copies installed beside the program.
#pragma once

#include <string>

namespace platform {

// True for the directory of a program installed below "/usr/share" or
// "/opt/apps": its work directory lies in the user's home.
bool isInstalledDirectory(const std::string& app_dir);

// The work directory of an installed program inside home, without a final
// '/'.
std::string userWorkDirectory(const std::string& home);

// True when the process may create files in dir.
bool canWriteDirectory(const std::string& dir);

// app_dir when it can be written or when there is no other work directory
// (work_dir empty or the same), else work_dir. Both without a final '/'.
std::string chooseSettingsDirectory(const std::string& app_dir, const std::string& work_dir,
                                    bool app_dir_writable);

// chooseSettingsDirectory for this process: its application directory, and
// for an installed program the work directory below "/home/<login>".
std::string settingsDirectory();

}  // namespace platform
