// Which files an upload may send, and how it opens them: regular ".wav" and
// ".mp3" files only, no link followed, and nothing that could hold the
// upload thread (a FIFO is refused without waiting for a writer).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"
#include "ukit/file_rules.h"

namespace olva_test {
namespace {

class UploadFileRule : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(temp_.file("call.wav"), "RIFF....WAVE");
        writeFile(temp_.file("CALL.MP3"), "ID3");
        writeFile(temp_.file("passwd"), "root:x:0:0");
        writeFile(temp_.file("notes.txt"), "text");
        std::filesystem::create_symlink(temp_.file("call.wav"), temp_.file("link.wav"));
        std::filesystem::create_symlink(temp_.file("passwd"), temp_.file("passwd.wav"));
        std::filesystem::create_directory(temp_.file("folder.wav"));
        ASSERT_EQ(mkfifo(temp_.file("fifo.wav").c_str(), 0600), 0);
    }

    TempDir temp_;
};

TEST_F(UploadFileRule, OnlyRegularRecordingsAreTaken)
{
    const struct {
        const char* name;
        bool allowed;    // is_upload_path
        int open_errno;  // open_upload_file: 0 when it opens
    } cases[] = {
        {"call.wav", true, 0},
        {"CALL.MP3", true, 0},
        {"missing.wav", true, ENOENT},  // it fails at its upload, as a file gone does
        {"passwd", false, EINVAL},
        {"notes.txt", false, EINVAL},
        {"link.wav", false, ELOOP},
        {"passwd.wav", false, ELOOP},
        {"folder.wav", false, EINVAL},
        {"fifo.wav", false, EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = temp_.file(c.name);
        EXPECT_EQ(web::is_upload_path(path), c.allowed);
        errno = 0;
        const int fd = web::open_upload_file(path);
        if (c.open_errno == 0) {
            ASSERT_GE(fd, 0) << std::strerror(errno);
            EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
            close(fd);
        } else {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(errno, c.open_errno) << std::strerror(errno);
        }
    }
    EXPECT_FALSE(web::is_upload_path(""));
    EXPECT_EQ(web::open_upload_file(""), -1);
}

// The descriptor reads the file that was checked, even when the path is
// given to something else before the upload reads it.
TEST_F(UploadFileRule, OpenedFileStaysTheCheckedOne)
{
    const int fd = web::open_upload_file(temp_.file("call.wav"));
    ASSERT_GE(fd, 0);
    std::filesystem::remove(temp_.file("call.wav"));
    std::filesystem::create_symlink(temp_.file("passwd"), temp_.file("call.wav"));
    char bytes[32] = {};
    EXPECT_EQ(read(fd, bytes, sizeof bytes), 12);
    EXPECT_EQ(std::string(bytes), "RIFF....WAVE");
    close(fd);
    EXPECT_EQ(web::open_upload_file(temp_.file("call.wav")), -1);
}

}  // namespace
}  // namespace olva_test
