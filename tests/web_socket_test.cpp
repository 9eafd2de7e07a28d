// WebSocket clients of the web service: greeting, one client only, the
// farewell close frame, frame handling and the first commands, over the
// fake device library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "cavrel_olva.h"
#include "ukit/json_text.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {

using WebSocket = WebServiceTest;

std::string getinfo_reply(const std::string& app_dir, const std::string& channels)
{
    return "{\"event\":\"getinfo\",\"workpath\":\"" + app_dir + "/\",\"channels\":[" + channels + "]}";
}

std::string fresh_channel(unsigned long handle)
{
    return "{\"handle\":" + std::to_string(handle) +
           ",\"deviceError\":0,\"simNo\":-1,\"simReg\":-1,\"simState\":-1,\"deviceAlarm\":0,"
           "\"devicePlayAlarm\":0,\"devicePlayAlarmParam\":0}";
}

TEST_F(WebSocket, GreetsAndReportsNoLinesBeforeABoxIsPlugged)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(getinfo(*client), getinfo_reply(app_dir_, ""));
    EXPECT_NE(log_text().find("new connect from 127.0.0.1:"), std::string::npos);
}

TEST_F(WebSocket, EventsRaisedOnLibraryThreadsReachTheClient)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const std::string number = "13800138000";
    raise(257, OLVA_EVENT_PLUG_IN);
    raise(257, OLVA_EVENT_LINE_RING);
    raise(257, OLVA_EVENT_CALLER_ID, olva_fake::text_param(number));
    EXPECT_EQ(client->read(), "{\"event\":\"plugin\",\"handle\":257}");
    EXPECT_EQ(client->read(), "{\"event\":\"ring\",\"handle\":257}");
    EXPECT_EQ(client->read(),
              "{\"event\":\"callerId\",\"handle\":257,\"callernumber\":\"13800138000\"}");
    EXPECT_EQ(getinfo(*client), getinfo_reply(app_dir_, fresh_channel(257)));

    raise(257, OLVA_EVENT_LINE_HOOK_ON, 1);
    EXPECT_EQ(client->read(), "{\"event\":\"hookup\",\"handle\":257,\"type\":1}");
    raise(257, OLVA_EVENT_LING_HANG);
    EXPECT_EQ(client->read(), "{\"event\":\"hang\",\"handle\":257}");
}

TEST_F(WebSocket, KeepOnlyConnectDecidesWhetherANewClientClosesTheOthers)
{
    for (const int keep_only : {1, 0}) {
        SCOPED_TRACE(keep_only);
        start("keep_only_conncet=" + std::to_string(keep_only) + "\n");
        auto first = connect();
        auto second = connect();
        ASSERT_TRUE(first && second);
        if (keep_only) {
            ASSERT_TRUE(first->wait_closed());
            EXPECT_TRUE(first->got_close_frame());
            EXPECT_EQ(first->close_code(), 1000);
            EXPECT_EQ(first->close_reason(), "{\"event\":\"left\"}");
            EXPECT_NE(log_text().find(" close addr:127.0.0.1:"), std::string::npos);
            EXPECT_TRUE(wait_for_log("disconnect connect from 127.0.0.1:"));
        }
        raise(257, OLVA_EVENT_LINE_RING);
        EXPECT_EQ(second->read(), "{\"event\":\"ring\",\"handle\":257}");
        if (!keep_only) {
            EXPECT_EQ(first->read(), "{\"event\":\"ring\",\"handle\":257}");
            // A reply goes to the asking client only.
            EXPECT_EQ(getinfo(*first), getinfo_reply(app_dir_, ""));
            raise(257, OLVA_EVENT_RING_STOP);
            EXPECT_EQ(second->read(), "{\"event\":\"ringstop\",\"handle\":257}");
        }
        // The listener stays open for the next client.
        EXPECT_TRUE(connect());
        uWebMgr.close_uWeb();
        olva_fake::reset();
    }
}

TEST_F(WebSocket, BadFramesGetNoReplyAndBreakNothing)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const std::string frames[] = {
        "{",
        "not json",
        "",
        "{\"handle\":257}",
        "{\"event\":5}",
        "{\"event\":null}",
        "[\"getinfo\"]",
        "\"getinfo\"",
        "{\"event\":\"GETINFO\"}",
        "{\"event\":\"NoSuchCommand\",\"handle\":257}",
        std::string("{\"event\":\"getinfo\0\"}", 21),
        R"({"event":"getinfo\u0000x"})",
        R"({"event\u0000x":"getinfo"})",
        R"({"event":"getinfo","x\u0000":1})",
        "{\"event\":\"getinfo\"}x",
        "{\"event\":\"getinfo\"}{\"event\":\"uwebclose\"}",
        "{\"event\":\"getinfo\"},",
        std::string(200 * 1024, '['),
    };
    for (const std::string& frame : frames) {
        SCOPED_TRACE(frame.substr(0, 40));
        ASSERT_TRUE(client->send(frame));
        // Frames are handled in order: the next message answers this one.
        ASSERT_TRUE(client->send("{\"event\":\"uwebclose\"}"));
        EXPECT_EQ(client->read(), "{\"event\":\"answer\",\"type\":\"uwebclose\",\"handle\":0,\"result\":\"\"}");
    }
    EXPECT_TRUE(olva_fake::calls().size() == 2) << "only olva_open_logfileEx and olva_open";
    const std::string log = log_text();
    EXPECT_NE(log.find("error json msg: ["), std::string::npos);
    EXPECT_NE(log.find("other msg recv from 127.0.0.1:"), std::string::npos);
    EXPECT_NE(log.find("--{\"event\":\"NoSuchCommand\",\"handle\":257}"), std::string::npos);
    // An escaped backslash before "u0000" is no NUL: the command runs.
    ASSERT_TRUE(client->send(R"({"event":"getinfo","note":"\\u0000"})"));
    const std::optional<std::string> info = client->read();
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->starts_with("{\"event\":\"getinfo\"")) << *info;
}

// A command is a text frame holding one JSON text: blanks around it are part
// of JSON, a binary frame is no command.
TEST_F(WebSocket, CommandsComeAsWholeJsonTextsInTextFrames)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    for (const std::string frame : {" {\"event\":\"getinfo\"}", "{\"event\":\"getinfo\"} \r\n\t"}) {
        ASSERT_TRUE(client->send(frame));
        EXPECT_EQ(client->read(), getinfo_reply(app_dir_, ""));
    }
    ASSERT_TRUE(client->send_binary("{\"event\":\"uwebclose\"}"));
    EXPECT_EQ(getinfo(*client), getinfo_reply(app_dir_, "")) << "the binary frame got no reply";
    EXPECT_TRUE(wait_for_log("recv from 127.0.0.1:"));
    EXPECT_NE(log_text().find(" a binary frame of 21 bytes: ignored"), std::string::npos);
    EXPECT_EQ(log_text().find("uweb service close"), std::string::npos);
}

TEST_F(WebSocket, OversizedFrameClosesOnlyThatClient)
{
    start("keep_only_conncet=0\n");
    auto big = connect();
    auto other = connect();
    ASSERT_TRUE(big && other);
    big->send(std::string(300 * 1024, ' '));
    EXPECT_TRUE(big->wait_closed());
    // The server closes with 1009 (message too big); the close frame may be
    // lost when the reset of the unread rest overtakes it.
    if (big->got_close_frame()) {
        EXPECT_EQ(big->close_code(), 1009);
    }
    EXPECT_EQ(getinfo(*other), getinfo_reply(app_dir_, ""));
}

struct CommandCase {
    const char* frame;
    const char* function;  // the fake's function whose result is set
    int result;
    const char* call;      // the library call expected, or null
    const char* reply;     // the reply expected, or null for none
};

TEST_F(WebSocket, CommandsCallTheLibraryAndReplyAsTheirRulesSay)
{
    const CommandCase cases[] = {
        {R"({"event":"StopRecord","handle":257})", "olva_stop_record", 0,
         "olva_stop_record(257)", nullptr},
        {R"({"event":"StopRecord","handle":257})", "olva_stop_record", -3,
         "olva_stop_record(257)",
         R"({"event":"notify","errorType":"StopRecord","handle":257,"result":-3})"},
        {R"({"event":"StopRecord","handle":-1})", "olva_stop_record", -3, "olva_stop_record(-1)",
         R"({"event":"notify","errorType":"StopRecord","handle":-1,"result":-3})"},
        {R"({"event":"StopRecord"})", "olva_stop_record", -2, "olva_stop_record(0)",
         R"({"event":"notify","errorType":"StopRecord","handle":0,"result":-2})"},
        {R"({"event":"RecordFile","handle":258,"filename":"D:\\rec\\a.wav","codec":38})",
         "olva_record_file", 0, "olva_record_file(258,D:/rec/a.wav,38)", nullptr},
        {R"({"event":"RecordFile","handle":258,"filename":"/r/b.wav","codec":3})",
         "olva_record_file", -12, "olva_record_file(258,/r/b.wav,3)",
         R"({"event":"notify","errorType":"RecordFile","handle":258,"result":-12})"},
        {R"({"event":"RecordFile","handle":258,"filename":7,"codec":"1"})", "olva_record_file",
         -4, "olva_record_file(258,,0)",
         R"({"event":"notify","errorType":"RecordFile","handle":258,"result":-4})"},
        {R"({"event":"SendDtmf","handle":257,"dtmf":"*12#"})", "olva_send_dtmf", 0,
         "olva_send_dtmf(257,*12#)", nullptr},
        {R"({"event":"SendDtmf","handle":513,"dtmf":"9"})", "olva_send_dtmf", -2,
         "olva_send_dtmf(513,9)",
         R"({"event":"notify","errorType":"SendDtmf","handle":513,"result":-2})"},
        {R"({"event":"PlayFile","handle":258,"filename":"C:\\voice\\hello.wav"})", "olva_play_file",
         0, "olva_play_file(258,C:/voice/hello.wav)", nullptr},
        {R"({"event":"PlayFile","handle":257,"filename":"/v/missing.wav"})", "olva_play_file", -1,
         "olva_play_file(257,/v/missing.wav)",
         R"({"event":"notify","errorType":"PlayFile","handle":257,"result":-1})"},
        {R"({"event":"StopPlay","handle":257})", "olva_stop_play", 0, "olva_stop_play(257)",
         nullptr},
        {R"({"event":"StopPlay","handle":-1})", "olva_stop_play", -3, "olva_stop_play(-1)",
         R"({"event":"notify","errorType":"StopPlay","handle":-1,"result":-3})"},
        {R"({"event":"StartReadLineVoltage","handle":257})", "olva_start_read_line_voltage", 0,
         "olva_start_read_line_voltage(257)", nullptr},
        {R"({"event":"StartReadLineVoltage","handle":513})", "olva_start_read_line_voltage", -1,
         "olva_start_read_line_voltage(513)",
         R"({"event":"notify","errorType":"StartReadLineVoltage","handle":513,"result":-1})"},
        {R"({"event":"StopReadLineVoltage","handle":257})", "olva_stop_read_line_voltage", -2,
         "olva_stop_read_line_voltage(257)",
         R"({"event":"notify","errorType":"StopReadLineVoltage","handle":257,"result":-2})"},
        {R"({"event":"GetDeviceVersionNum","handle":257})", "olva_get_device_versionnum", 0,
         "olva_get_device_versionnum(257)",
         R"({"event":"answer","type":"GetDeviceVersionNum","handle":257,"result":"2.10"})"},
        {R"({"event":"GetDeviceVersionNum","handle":257})", "olva_get_device_versionnum", -1,
         "olva_get_device_versionnum(257)",
         R"({"event":"notify","errorType":"GetDeviceVersionNum","handle":257,"result":-1})"},
        {R"({"event":"GetProductID","handle":257})", "olva_get_product_ID", 8,
         "olva_get_product_ID(257)",
         R"({"event":"answer","type":"GetProductID","handle":257,"result":"8"})"},
        {R"({"event":"GetProductID","handle":257})", "olva_get_product_ID", 0,
         "olva_get_product_ID(257)",
         R"({"event":"notify","errorType":"GetProductID","handle":257,"result":0})"},
        {R"({"event":"GetProductID","handle":769})", "olva_get_product_ID", -2,
         "olva_get_product_ID(769)",
         R"({"event":"notify","errorType":"GetProductID","handle":769,"result":-2})"},
        {R"({"event":"JudgeFileSize","filename":"C:\\x\\missing.wav"})", "olva_judge_file_size",
         -1, R"(olva_judge_file_size(C:\x\missing.wav))",
         R"({"event":"answer","type":"GetFileSize","handle":0,"result":"-1"})"},
        {R"({"event":"JudgeFileSize","filename":"/r/a.wav"})", "olva_judge_file_size", 4096,
         "olva_judge_file_size(/r/a.wav)",
         R"({"event":"answer","type":"GetFileSize","handle":0,"result":"4096"})"},
        {R"({"event":"OLVADeletefile","filename":"a\\b.wav"})", "olva_delete_file", 0,
         "olva_delete_file(a/b.wav)", nullptr},
        {R"({"event":"OLVADeletefile","filename":"/r/gone.wav"})", "olva_delete_file", -1,
         "olva_delete_file(/r/gone.wav)",
         R"({"event":"notify","errorType":"OLVADeletefile","handle":0,"result":-1})"},
        {R"({"event":"UploadFile","url":"http://h/u","paramname":"p","filename":"c:\\a.wav"})",
         "olva_uploadFile", -100, "olva_uploadFile(http://h/u,p,c:/a.wav)",
         R"({"event":"notify","errorType":"UploadFile","handle":0,"result":-100})"},
        {R"({"event":"UploadFile","url":"http://h/u","paramname":"p","filename":"a.wav"})",
         "olva_uploadFile", 0, "olva_uploadFile(http://h/u,p,a.wav)",
         R"({"event":"notify","errorType":"UploadFile","handle":0,"result":0})"},
        // A stored message is named by smsNo when read, by smsType when
        // deleted; smsNo is then the delete flag (0: that message alone).
        {R"({"event":"querySms","handle":257,"mode":0,"smsNo":4})", "olva_query_gsm_msg", 0,
         "olva_query_gsm_msg(257,4)", R"({"event":"notify","errorType":"querySms","handle":0,"result":0})"},
        {R"({"event":"deleteSms","handle":257,"smsType":4,"smsNo":0})", "olva_delete_gsm_msg", 0,
         "olva_delete_gsm_msg(257,0,4)", R"({"event":"notify","errorType":"deleteSms","handle":0,"result":0})"},
        {R"({"event":"deleteSms","handle":258,"smsType":1,"smsNo":3})", "olva_delete_gsm_msg", -4,
         "olva_delete_gsm_msg(258,3,1)", R"({"event":"notify","errorType":"deleteSms","handle":0,"result":-4})"},
        {R"({"event":"uwebclose"})", nullptr, 0, nullptr,
         R"({"event":"answer","type":"uwebclose","handle":0,"result":""})"},
        {R"({"event":"getsysteminfo"})", nullptr, 0, nullptr, nullptr},
        {R"({"event":"allmsg","handle":257,"mode":1})", nullptr, 0, nullptr, nullptr},
        {R"({"event":"GetVoiceFileNames"})", nullptr, 0, nullptr, nullptr},
    };
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    olva_fake::set_version(2.1f);
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.frame);
        const std::size_t calls_before = olva_fake::calls().size();
        if (c.function)
            olva_fake::set_result(c.function, c.result);
        ASSERT_TRUE(client->send(c.frame));
        if (c.reply) {
            EXPECT_EQ(client->read(), c.reply);
        }
        EXPECT_EQ(getinfo(*client), getinfo_reply(app_dir_, "")) << "no other reply";
        const auto calls = olva_fake::calls();
        ASSERT_EQ(calls.size(), calls_before + (c.call ? 1 : 0));
        if (c.call) {
            EXPECT_EQ(calls.back().text, c.call);
        }
    }
    EXPECT_TRUE(uWebMgr.is_running()) << "uwebclose leaves the service running";
    const std::string log = log_text();
    EXPECT_NE(log.find(" record file, handle:258, codec:38, filename:D:/rec/a.wav, result=0"),
              std::string::npos);
    EXPECT_NE(log.find("send error msg:{\"event\":\"notify\",\"errorType\":\"StopRecord\""),
              std::string::npos);
    EXPECT_NE(log.find("msg  uweb service close"), std::string::npos);
    EXPECT_NE(log.find("  stop record, handle:257,, result=0"), std::string::npos);
    EXPECT_NE(log.find(" StopReadLineVoltage, handle:257,, result=-2"), std::string::npos);
    EXPECT_NE(log.find(" SendDtmf, handle:513,, result=-2"), std::string::npos);
    EXPECT_NE(log.find("  PlayFile, handle:258, filename:C:/voice/hello.wav, result=0"),
              std::string::npos);
    EXPECT_NE(log.find(" StopPlay, handle:-1,, result=-3"), std::string::npos);
    EXPECT_NE(log.find(" Delete sms smstype:4, No=0 result=0"), std::string::npos);
}

TEST_F(WebSocket, TheUserNumberIsAnsweredWithItsFirstEightBytesOnly)
{
    struct Case {
        std::string number;  // what the library stores
        int result;
        const char* reply;   // null: no reply
    };
    const Case cases[] = {
        {"1234567890ABCDEF", 16,
         R"({"event":"answer","type":"GetUsernum","handle":257,"result":"12345678"})"},
        {std::string("123\0" "567890ABCDEF", 16), 16,
         R"({"event":"answer","type":"GetUsernum","handle":257,"result":"123"})"},
        {"\"<a>\"\\bcdefghijklm", 16,
         R"({"event":"answer","type":"GetUsernum","handle":257,"result":"\"<a>\"\\bc"})"},
        // Failures stay silent.
        {"1234567890ABCDEF", -16, nullptr},
        {"1234567890ABCDEF", -1, nullptr},
        {"1234567890ABCDEF", 0, nullptr},
    };
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        olva_fake::set_usernum(c.number);
        olva_fake::set_result("olva_get_usernum", c.result);
        ASSERT_TRUE(client->send(R"({"event":"GetUsernum","handle":257})"));
        if (c.reply) {
            EXPECT_EQ(client->read(), c.reply);
        }
        EXPECT_EQ(getinfo(*client), getinfo_reply(app_dir_, "")) << "no other reply";
        EXPECT_EQ(olva_fake::calls().back().text, "olva_get_usernum(257,16)");
    }
    EXPECT_NE(log_text().find("GetUsernum, handle:257,, result=-16"), std::string::npos);
}

// A page may delete or size recordings only: the user's other files, links
// to them and directories are refused without reaching the library.
TEST_F(WebSocket, FileCommandsTouchRecordingsOnly)
{
    const std::string home = temp_.file("home");
    const std::string rec = temp_.file("rec");
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(rec + "/dir.wav");
    writeFile(home + "/.bashrc", "alias ls='ls -l'\n");
    writeFile(rec + "/a.wav", "RIFF");
    writeFile(rec + "/b.MP3", "ID3");
    std::filesystem::create_symlink(home + "/.bashrc", rec + "/bashrc.wav");
    std::filesystem::create_symlink(rec + "/a.wav", rec + "/to_a.wav");
    std::filesystem::create_symlink(rec + "/nowhere", rec + "/dangling.wav");
    auto backslashed = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    };
    struct Case {
        std::string path;
        bool reaches_library;
    };
    const Case cases[] = {
        {rec + "/a.wav", true},
        {rec + "/b.MP3", true},
        {rec + "/to_a.wav", true},
        {rec + "/not_yet.wav", true},
        {home + "/.bashrc", false},
        {rec + "/../home/.bashrc", false},
        {rec + "/bashrc.wav", false},
        {rec + "/dangling.wav", false},
        {rec + "/dir.wav", false},
        {rec, false},
        {"/etc/passwd", false},
    };
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    olva_fake::set_result("olva_delete_file", 0);
    olva_fake::set_result("olva_judge_file_size", 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::size_t calls_before = olva_fake::calls().size();
        ASSERT_TRUE(client->send(
            web::JsonPieces().str("event", "OLVADeletefile").str("filename", backslashed(c.path)).done()));
        if (!c.reaches_library) {
            EXPECT_EQ(client->read(), R"({"event":"notify","errorType":"OLVADeletefile","handle":0,"result":-4})");
        }
        ASSERT_TRUE(client->send(web::JsonPieces().str("event", "JudgeFileSize").str("filename", c.path).done()));
        EXPECT_EQ(client->read(), std::string(R"({"event":"answer","type":"GetFileSize","handle":0,"result":")") +
                                      (c.reaches_library ? "4" : "-4") + "\"}");
        const auto calls = olva_fake::calls();
        ASSERT_EQ(calls.size(), calls_before + (c.reaches_library ? 2 : 0));
        if (c.reaches_library) {
            EXPECT_EQ(calls[calls_before].text, "olva_delete_file(" + c.path + ")");
        }
    }
    EXPECT_TRUE(std::filesystem::exists(home + "/.bashrc"));
    EXPECT_TRUE(wait_for_log("OLVADeletefile, filename:" + home + "/.bashrc refused: not a regular .wav or .mp3 file"));
    EXPECT_TRUE(wait_for_log("JudgeFileSize, filename:/etc/passwd refused: not a regular .wav or .mp3 file"));
}

TEST_F(WebSocket, CommandsAndFollowUpsRunOnTheWebThread)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->send(R"({"event":"StartReadLineVoltage","handle":257})"));
    const auto command = olva_fake::wait_for_call("olva_start_read_line_voltage(257)");
    ASSERT_TRUE(command);

    const auto raiser = olva_fake::raise(257, OLVA_EVENT_LINE_VOLTAGE, 52);
    ASSERT_TRUE(raiser);
    EXPECT_EQ(client->read(), "{\"event\":\"voltage\",\"handle\":257,\"vol\":52}");
    const auto stop = olva_fake::wait_for_call("olva_stop_read_line_voltage(257)");
    ASSERT_TRUE(stop);
    EXPECT_NE(stop->thread, *raiser);
    EXPECT_EQ(stop->thread, command->thread);

    olva_fake::set_result("olva_play_file", -2);
    const auto dialler = olva_fake::raise(258, OLVA_EVENT_CALL_OUT_FINISH);
    ASSERT_TRUE(dialler);
    EXPECT_EQ(client->read(), "{\"event\":\"CallOutFinish\",\"handle\":258}");
    const auto play = olva_fake::wait_for_call("olva_play_file(258,tip.wav)");
    ASSERT_TRUE(play);
    EXPECT_NE(play->thread, *dialler);
    EXPECT_EQ(play->thread, command->thread);
    EXPECT_EQ(getinfo(*client), getinfo_reply(app_dir_, ""));
    EXPECT_NE(log_text().find("olva(258) play file result=-2"), std::string::npos);
}

// The times a text occurs in the log.
std::size_t occurrences(const std::string& log, const std::string& text)
{
    std::size_t count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++count;
    return count;
}

// A client that stops reading is not given memory without end: once its
// queue would pass its bound in bytes it is closed with 1008 (logged once),
// while a client that reads gets every frame.
TEST_F(WebSocket, AClientThatStopsReadingIsClosedWithPolicyViolation)
{
    start("keep_only_conncet=0\n");
    auto slow = connect();
    auto reader = connect();
    ASSERT_TRUE(slow && reader);
    // 64 KiB frames, far more of them than the socket buffers and the
    // queue's 4 MiB hold together, but fewer than the queue's frame count.
    const std::string text = "+CMT: " + std::string(64 * 1024, 'x');
    constexpr int kFrames = 600;
    for (int i = 0; i < kFrames; ++i) {
        raise(0x101, OLVA_EVENT_GSM_MSG, olva_fake::text_param(text));
        const std::optional<std::string> message = reader->read();
        ASSERT_TRUE(message) << "frame " << i;
        ASSERT_GT(message->size(), text.size()) << "frame " << i;
    }
    ASSERT_TRUE(wait_for_log(" reads too slowly: "));
    int received = 0;
    while (slow->read())
        ++received;
    EXPECT_GT(received, 0);
    EXPECT_LT(received, kFrames);
    EXPECT_TRUE(slow->got_close_frame());
    EXPECT_EQ(slow->close_code(), 1008);
    EXPECT_EQ(occurrences(log_text(), " reads too slowly: "), 1u) << "one line for the client";
    // The reader is still served.
    EXPECT_NE(getinfo(*reader).find("\"event\":\"getinfo\""), std::string::npos);
}

// At shut-down every browser is told the service goes away: a close frame
// 1001 before the listener closes and the library is closed.
TEST_F(WebSocket, ShutDownSendsEveryClientGoingAway)
{
    start("keep_only_conncet=0\n");
    auto first = connect();
    auto second = connect();
    ASSERT_TRUE(first && second);
    // The clients answer the close only while they read: close_uWeb, which
    // waits for their answers, runs beside them.
    std::thread closer([] { uWebMgr.close_uWeb(); });
    for (WsClient* client : {first.get(), second.get()}) {
        EXPECT_TRUE(client->wait_closed());
        EXPECT_TRUE(client->got_close_frame());
        EXPECT_EQ(client->close_code(), 1001);
        EXPECT_EQ(client->close_reason(), "going away");
    }
    closer.join();
    EXPECT_FALSE(tcp_connects("127.0.0.1", port_));
    const std::string log = log_text();
    const std::size_t farewell = log.find(" closing 2 websocket connections: going away");
    ASSERT_NE(farewell, std::string::npos) << log;
    EXPECT_LT(farewell, log.find(" start close usb device ..."));
    EXPECT_EQ(log.find("did not answer the close"), std::string::npos) << "both answered at once";
}

// A client that never answers the close does not hold the shut-down: it
// is dropped after a second.
TEST_F(WebSocket, ShutDownDropsAClientThatDoesNotAnswerTheClose)
{
    start();
    auto silent = connect();
    ASSERT_TRUE(silent);
    const auto begun = std::chrono::steady_clock::now();
    uWebMgr.close_uWeb();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(3));
    EXPECT_TRUE(wait_for_log(" websocket clients did not answer the close in time: dropped"));
    EXPECT_TRUE(silent->wait_closed());
}

}  // namespace
}  // namespace olva_test
