#include "base/platform/paths.h"

#include <gtest/gtest.h>
#include <sys/auxv.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "base/platform/command_runner.h"
#include "support/fake_paths.h"

namespace {

// Sets or unsets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The first output line of a shell command.
std::string shellLine(const std::string& command)
{
    const platform::CommandResult result = platform::commandRunner().run(command);
    EXPECT_EQ(result.status, 0) << command;
    return result.lines.empty() ? std::string() : result.lines.front();
}

TEST(DirectoryOf, CutsAtTheLastSlash)
{
    const struct {
        const char* path;
        const char* directory;
    } cases[] = {
        {"/opt/olva/olvakit", "/opt/olva"},
        {"/usr/share/olva/bin/olvakit", "/usr/share/olva/bin"},
        {"/olvakit", ""},
        {"olvakit", ""},
        {"", ""},
        {"/opt/olva/", "/opt/olva"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::directoryOf(c.path), c.directory) << c.path;
}

TEST(SystemPaths, ApplicationDirectoryHoldsTheRunningExecutable)
{
    // The kernel's record of the file this process was started from.
    const auto exec_path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    ASSERT_NE(exec_path, nullptr);
    const std::filesystem::path expected =
        std::filesystem::canonical(exec_path).parent_path();
    EXPECT_EQ(platform::paths().applicationDirectory(), expected.string());
}

TEST(FileNameOf, TakesTheTextAfterTheLastSlash)
{
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"/opt/olva/olvakit", "olvakit"},
        {"/olvakit", "olvakit"},
        {"olvakit", "olvakit"},
        {"", ""},
        {"/opt/olva/", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::fileNameOf(c.path), c.name) << c.path;
}

TEST(SystemPaths, ExecutableNameIsTheRunningExecutables)
{
    const auto exec_path = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    ASSERT_NE(exec_path, nullptr);
    EXPECT_EQ(platform::paths().executableName(),
              std::filesystem::canonical(exec_path).filename().string());
}

TEST(SystemPaths, RootsAreTheSystemOnes)
{
    EXPECT_EQ(platform::paths().procRoot(), "/proc");
    EXPECT_EQ(platform::paths().sysRoot(), "/sys");
}

TEST(SystemPaths, LoginNameIsTheRealUsersName)
{
    EXPECT_EQ(platform::paths().loginName(), shellLine("id -run"));
}

TEST(SystemPaths, HomeDirectoryIsHomeOrTheUserDatabasesOne)
{
    {
        ScopedEnv home("HOME", "/tmp/olva-home");
        EXPECT_EQ(platform::paths().homeDirectory(), "/tmp/olva-home");
    }
    const std::string from_database = shellLine("getent passwd \"$(id -ru)\" | cut -d: -f6");
    ASSERT_FALSE(from_database.empty());
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        ScopedEnv home("HOME", value);
        EXPECT_EQ(platform::paths().homeDirectory(), from_database);
    }
}

TEST(FakePaths, StartsAsTheRealOnesAndRestoresThem)
{
    const std::string real_application = platform::paths().applicationDirectory();
    {
        olva_test::FakePaths fake;
        EXPECT_EQ(platform::paths().applicationDirectory(), real_application);
        EXPECT_EQ(platform::paths().procRoot(), "/proc");
        fake.setProcRoot("/tmp/proc");
        fake.setSysRoot("/tmp/sys");
        fake.setApplicationDirectory("/opt/apps/olva");
        fake.setLoginName("someone");
        fake.setHomeDirectory("/home/someone");
        EXPECT_EQ(platform::paths().procRoot(), "/tmp/proc");
        EXPECT_EQ(platform::paths().sysRoot(), "/tmp/sys");
        EXPECT_EQ(platform::paths().applicationDirectory(), "/opt/apps/olva");
        EXPECT_EQ(platform::paths().loginName(), "someone");
        EXPECT_EQ(platform::paths().homeDirectory(), "/home/someone");
    }
    EXPECT_EQ(platform::paths().procRoot(), "/proc");
    EXPECT_EQ(platform::paths().applicationDirectory(), real_application);
}

}  // namespace
