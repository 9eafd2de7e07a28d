#include "base/filesystem.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace {

using olva_test::pathExists;
using olva_test::TempDir;
using olva_test::writeFile;

bool is_dir(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(ConvDirsepTest, TurnsBackslashesIntoSlashes)
{
    struct Case {
        std::string in;
        std::string out;
        int changed;
    };
    const Case cases[] = {
        {"", "", 0},
        {"a/b", "a/b", 0},
        {"a\\b\\c", "a/b/c", 2},
        {"\\\\", "//", 2},
    };
    for (Case c : cases) {
        EXPECT_EQ(conv_dirsep(c.in.data()), c.changed) << c.out;
        EXPECT_EQ(c.in, c.out);
    }
    EXPECT_EQ(conv_dirsep(nullptr), -1);
}

TEST(DirExistTest, TellsDirectoriesFromEverythingElse)
{
    TempDir dir;
    writeFile(dir.file("file"), "x");
    EXPECT_EQ(dir_exist(dir.path().c_str()), 0);
    EXPECT_EQ(dir_exist((dir.path() + "///").c_str()), 0);
    EXPECT_EQ(dir_exist(dir.file("file").c_str()), -1);
    EXPECT_EQ(dir_exist(dir.file("missing").c_str()), -1);
    EXPECT_EQ(dir_exist("/"), 0);
    EXPECT_EQ(dir_exist(nullptr), -1);
}

TEST(MkdirTreeTest, CreatesTheDirectoriesOfAPath)
{
    TempDir dir;
    // A file path gets its directories, never the file.
    const std::string file_path = dir.file("a/b/c.log");
    EXPECT_EQ(mkdir_tree(file_path.c_str(), nullptr), -1);
    EXPECT_TRUE(is_dir(dir.file("a")));
    EXPECT_TRUE(is_dir(dir.file("a/b")));
    EXPECT_FALSE(pathExists(file_path));

    // Backslashes, a directory path ending in a separator, and the caller's
    // work buffer.
    char work[4096];
    const std::string dir_path = dir.path() + "\\x\\y\\";
    EXPECT_EQ(mkdir_tree(dir_path.c_str(), work), 0);
    EXPECT_TRUE(is_dir(dir.file("x/y")));

    // Existing directories count as made.
    EXPECT_EQ(mkdir_tree(dir_path.c_str(), nullptr), 0);
}

TEST(MkdirTreeTest, RelativePathIsMadeUnderTheCurrentDirectory)
{
    TempDir dir;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const int result = mkdir_tree("a\\b\\", nullptr);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(is_dir(dir.file("a/b")));
}

TEST(MkdirTreeTest, StopsAtAFileInThePath)
{
    TempDir dir;
    writeFile(dir.file("plain"), "x");
    EXPECT_EQ(mkdir_tree(dir.file("plain/sub/").c_str(), nullptr), -1);
    EXPECT_FALSE(pathExists(dir.file("plain/sub")));
}

TEST(MkdirTreeTest, RefusesEmptyAndOverlongPaths)
{
    EXPECT_EQ(mkdir_tree("", nullptr), -1);
    EXPECT_EQ(mkdir_tree(nullptr, nullptr), -1);
    const std::string overlong = "/tmp/" + std::string(5000, 'a') + "/";
    EXPECT_EQ(mkdir_tree(overlong.c_str(), nullptr), -1);
}

TEST(MkdirTreeTest, TwoThreadsMakingTheSameTreeBothSucceed)
{
    for (int round = 0; round < 20; ++round) {
        TempDir dir;
        const std::string path = dir.file("r/e/c/o/r/d/s/");
        int results[2] = {-2, -2};
        std::thread other([&] { results[1] = mkdir_tree(path.c_str(), nullptr); });
        results[0] = mkdir_tree(path.c_str(), nullptr);
        other.join();
        EXPECT_EQ(results[0], 0);
        EXPECT_EQ(results[1], 0);
    }
}

class ClearDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mkdir(dir_.file("top").c_str(), 0755);
        mkdir(dir_.file("top/sub").c_str(), 0755);
        mkdir(dir_.file("top/empty").c_str(), 0755);
        mkdir(dir_.file("top/young").c_str(), 0755);
        mkdir(dir_.file("outside").c_str(), 0755);
        make("top/old.log", 100);
        make("top/.hidden", 100);
        make("top/sub/old.log", 50);
        make("top/young/new.log", 1);
        make("top/future.log", -1000);
        make("outside/precious", 500);
        // Old links: one to a file, one to a directory, both outside.
        symlink(dir_.file("outside/precious").c_str(), top("link-file").c_str());
        symlink(dir_.file("outside").c_str(), top("link-dir").c_str());
        olva_test::setModificationTime(top("link-file"), now() - 500);
        olva_test::setModificationTime(top("link-dir"), now() - 500);
    }

    std::int64_t now() const { return clock_.wallSeconds(); }
    std::string top(const std::string& name) const { return dir_.file("top/" + name); }

    void make(const std::string& name, std::int64_t age)
    {
        writeFile(dir_.file(name), "x");
        olva_test::setModificationTime(dir_.file(name), now() - age);
    }

    olva_test::FakeClock clock_;
    TempDir dir_;
};

TEST_F(ClearDirTest, RemovesOldFilesAndTheDirectoriesTheyLeaveEmpty)
{
    clear_dir(dir_.file("top").c_str(), 10);

    EXPECT_FALSE(pathExists(top("old.log")));
    EXPECT_FALSE(pathExists(top(".hidden")));
    EXPECT_FALSE(pathExists(top("sub")));
    EXPECT_FALSE(pathExists(top("empty")));
    EXPECT_TRUE(pathExists(top("young/new.log")));
    EXPECT_TRUE(pathExists(top("future.log")));
    EXPECT_TRUE(is_dir(dir_.file("top")));
    // The links are entries of the log directory; their targets are not.
    EXPECT_FALSE(pathExists(top("link-file")));
    EXPECT_FALSE(pathExists(top("link-dir")));
    EXPECT_TRUE(pathExists(dir_.file("outside/precious")));
}

TEST_F(ClearDirTest, KeepZeroRemovesEverythingBelowButTheDirectory)
{
    clear_dir(dir_.file("top").c_str(), 0);

    EXPECT_TRUE(is_dir(dir_.file("top")));
    EXPECT_FALSE(pathExists(top("young")));
    EXPECT_FALSE(pathExists(top("future.log")));
    EXPECT_TRUE(pathExists(dir_.file("outside/precious")));
}

TEST_F(ClearDirTest, MissingDirectoryIsLeftAlone)
{
    clear_dir(dir_.file("nothing").c_str(), 0);
    clear_dir(top("old.log").c_str(), 0);
    EXPECT_TRUE(pathExists(top("old.log")));
}

}  // namespace
