// The whole program (the tray program over the fake device library) told to
// stop by SIGTERM while an upload thread waits: on a server that takes the
// request and never answers, or behind a kept job whose file is a FIFO. It
// ends with 0 within 5 s, whatever the upload was doing.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "support/eventually.h"
#include "support/busy_port.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/upload_server.h"
#include "support/web_client.h"
#include "support/x_session.h"
#include "ukit/json_text.h"
#include "ukit/upload_queue.h"

namespace olva_test {
namespace {

using namespace std::chrono_literals;

constexpr auto kProgramStart = 20s;
constexpr auto kShutDownLimit = 5s;

class UploadShutdown : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string missing = XSession::missing_programs();
        if (!missing.empty())
            GTEST_SKIP() << "the program needs these to run: " << missing;
        std::string error;
        ASSERT_TRUE(x_.start(temp_.path(), &error)) << error;
    }

    std::unique_ptr<ChildProcess> start_program(const std::string& app_dir, const std::string& output)
    {
        ChildOptions options;
        options.argv = {OLVA_TRAY_APP, "--app-dir=" + app_dir, "--browser-log=" + app_dir + "/browser.log"};
        options.env = {x_.display_env(), "GDK_BACKEND=x11", "LC_ALL=C.UTF-8", "NO_AT_BRIDGE=1"};
        options.output_file = output;
        std::string error;
        auto program = ChildProcess::start(options, &error);
        EXPECT_TRUE(program) << error;
        return program;
    }

    TempDir temp_;
    XSession x_;
};

TEST_F(UploadShutdown, SigtermEndsTheProgramWhileAnUploadWaits)
{
    const struct {
        const char* what;
        bool fifo_job_first;  // a kept job whose file is a FIFO comes first
        bool plain;           // the upload a browser waits for, not a queued one
    } cases[] = {
        {"a kept form upload on a silent server", false, false},
        {"a kept job of a FIFO ahead of one on a silent server", true, false},
        {"a plain upload on a silent server", false, true},
    };
    int run = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string app_dir = temp_.file("app-" + std::to_string(++run));
        std::filesystem::create_directories(app_dir + "/webroot");
        const unsigned short port = free_loopback_port();
        writeFile(app_dir + "/config.ini",
                  "[CONFIG]\nHttpPort=" + std::to_string(port) + "\nsystem_run_count=1\n");
        const std::string audio = app_dir + "/call.wav";
        writeFile(audio, "RIFF....WAVE");
        UploadServer silent;
        silent.reply_with({200, R"({"code":"success"})", true});
        std::deque<FileUploadPacket> kept;
        if (c.fifo_job_first) {
            ASSERT_EQ(mkfifo((app_dir + "/fifo.wav").c_str(), 0600), 0);
            kept.push_back(FileUploadPacket{silent.url(), "b", "o", app_dir + "/fifo.wav", "", 1});
        }
        if (!c.plain)
            kept.push_back(FileUploadPacket{silent.url(), "b", "o", audio, "", 1});
        writeFile(app_dir + "/uploadfile.json", upload_queue_json(kept));

        const std::string output = app_dir + "/output.log";
        auto program = start_program(app_dir, output);
        ASSERT_TRUE(program);
        std::unique_ptr<WsClient> client;
        if (c.plain) {
            ClientOptions options;
            options.port = port;
            ASSERT_TRUE(eventually([&] { return (client = WsClient::connect(options)) != nullptr; }, kProgramStart))
                << readFile(output);
            ASSERT_TRUE(client->send(R"({"event":"UploadFileEx","url":)" + web::json_quote(silent.url()) +
                                     R"(,"paramname":"file","filename":)" + web::json_quote(audio) + "}"));
        }
        ASSERT_TRUE(silent.wait_for_requests(1, kProgramStart)) << readFile(output);

        ASSERT_EQ(kill(program->pid(), SIGTERM), 0);
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(program->wait_exit(kShutDownLimit), std::optional<int>(0)) << readFile(output);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, kShutDownLimit);
    }
}

}  // namespace
}  // namespace olva_test
