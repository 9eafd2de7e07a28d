// Where "config.ini" and "olva.ini" are kept.
#include "base/platform/settings_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/fake_paths.h"
#include "support/temp_dir.h"

namespace {

TEST(SettingsDirectory, InstalledDirectories)
{
    const struct {
        const char* dir;
        bool installed;
    } cases[] = {
        {"/usr/share/olva", true},
        {"/tmp/p/usr/share/olva", true},
        {"/opt/apps/olva/files", true},
        {"/usr/local/share/olva", false},
        {"/home/user/olva/build/olvawebserver", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::isInstalledDirectory(c.dir), c.installed) << c.dir;
}

TEST(SettingsDirectory, ChoosesTheWorkDirectoryOnlyWhenTheProgramsCannotBeWritten)
{
    const struct {
        const char* app;
        const char* work;
        bool writable;
        const char* chosen;
    } cases[] = {
        {"/usr/share/olva", "/home/u/uWebWorkDir", true, "/usr/share/olva"},
        {"/usr/share/olva", "/home/u/uWebWorkDir", false, "/home/u/uWebWorkDir"},
        {"/usr/share/olva", "", false, "/usr/share/olva"},
        {"/srv/olva", "/srv/olva", false, "/srv/olva"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::chooseSettingsDirectory(c.app, c.work, c.writable), c.chosen) << c.app;
}

TEST(SettingsDirectory, OfTheProcessFollowsItsPaths)
{
    olva_test::TempDir temp;
    olva_test::FakePaths paths;
    paths.setLoginName("desk");

    // A build tree, and an installed program whose directory can be written
    // (root's), keep the files beside the program.
    const std::string build = temp.file("build/olvawebserver");
    const std::string installed = temp.file("usr/share/olva");
    std::filesystem::create_directories(build);
    std::filesystem::create_directories(installed);
    for (const std::string& dir : {build, installed}) {
        paths.setApplicationDirectory(dir);
        EXPECT_TRUE(platform::canWriteDirectory(dir));
        EXPECT_EQ(platform::settingsDirectory(), dir);
    }

    // An installed directory the process cannot write (here: one that is
    // not there) sends them to the user's work directory.
    const std::string gone = temp.file("usr/share/gone");
    paths.setApplicationDirectory(gone);
    EXPECT_FALSE(platform::canWriteDirectory(gone));
    EXPECT_EQ(platform::settingsDirectory(), "/home/desk/uWebWorkDir");
    paths.setApplicationDirectory(temp.file("elsewhere/gone"));
    EXPECT_EQ(platform::settingsDirectory(), temp.file("elsewhere/gone"));
}

}  // namespace
