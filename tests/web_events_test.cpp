// Device events to browsers: the text of every event code, the line slots
// they fill, their balloons, and texts from outside kept inside their JSON
// strings.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <thread>

#include "cavrel_olva.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {

using WebEvents = WebServiceTest;

struct EventCase {
    int code;
    unsigned long p1;
    unsigned long p2;
    // Text parameters: when set, the parameter points to this text.
    const char* t1;
    const char* t2;
    const char* t3;
    const char* t4;
    const char* text;  // what the browser receives; null: nothing
};

constexpr unsigned long kNegativeFive = static_cast<unsigned long>(-5);

// Every code the library may raise, and some it never does.
const EventCase kEvents[] = {
    {0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {1, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"plugin","handle":257})"},
    {3, 2, 1, nullptr, nullptr, nullptr, nullptr, R"({"event":"deviceAlarm","handle":257,"type":2})"},
    {3, 3, 5, nullptr, nullptr, nullptr, nullptr,
     R"({"event":"deviceAlarm","handle":257,"type":3,"alarmParam":5})"},
    {3, 3, kNegativeFive, nullptr, nullptr, nullptr, nullptr,
     R"({"event":"deviceAlarm","handle":257,"type":3,"alarmParam":18446744073709551611})"},
    {3, 7, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {4, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {9, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {10, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {11, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"ring","handle":257})"},
    {12, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"hookoff","handle":257,"type":0})"},
    {12, 6, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"hookoff","handle":257,"type":6})"},
    {13, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"hang","handle":257})"},
    {14, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {15, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"ringCancel","handle":257})"},
    {16, 48, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"voltage","handle":257,"vol":48})"},
    {17, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {19, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {20, 0, 320, "audio", nullptr, nullptr, nullptr, nullptr},
    {21, 0, 0, "13800138000", "05011020", "ZHANG", nullptr,
     R"({"event":"callerId","handle":257,"callernumber":"13800138000"})"},
    {22, '5', 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"dtmfdown","handle":257,"dtmfkey":53})"},
    {22, '*', 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"dtmfdown","handle":257,"dtmfkey":42})"},
    {22, '#', 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"dtmfdown","handle":257,"dtmfkey":35})"},
    {23, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {24, 1, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"deviceError","handle":257})"},
    {25, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"playEnd","handle":257})"},
    {26, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"playError","handle":257})"},
    {27, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"busyTone","handle":257})"},
    {28, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"CallOutFinish","handle":257})"},
    {29, 1, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"polarity","handle":257,"value":1})"},
    {30, 3, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"hookup","handle":257,"type":3})"},
    {31, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"ringstop","handle":257})"},
    {32, 1, 3, nullptr, nullptr, nullptr, nullptr,
     "{\n\t\"event\":\t\"simstate\",\n\t\"handle\":\t257,\n\t\"simNo\":\t1,\n\t\"result\":\t3\n}"},
    {33, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"calledanswer","handle":257})"},
    {34, 0, 11, "+CSQ: 20,99", nullptr, nullptr, nullptr,
     R"({"event":"msg","handle":257,"result":"+CSQ: 20,99"})"},
    {35, 0, 0, "+8613800138000", "24/05/01,10:20:30+32", "你好", "1(2)",
     R"x({"event":"short_msg","handle":257,"from":"+8613800138000","time":"24/05/01,10:20:30+32","result":"你好","divided":"1(2)"})x"},
    {35, 0, 0, "10086", "24/05/01,10:20:30+32", "hi", "",
     R"({"event":"short_msg","handle":257,"from":"10086","time":"24/05/01,10:20:30+32","result":"hi","divided":""})"},
    {36, 80, 0, nullptr, nullptr, nullptr, nullptr,
     "{\n\t\"event\":\t\"signalsize\",\n\t\"handle\":\t257,\n\t\"size\":\t80\n}"},
    {37, 2, 7, nullptr, nullptr, nullptr, nullptr,
     "{\n\t\"event\":\t\"volume\",\n\t\"handle\":\t257,\n\t\"type\":\t2,\n\t\"vol\":\t7\n}"},
    {38, 5, 50, nullptr, nullptr, nullptr, nullptr,
     R"({"event":"short_msg_size","handle":257,"number":5,"memory_size":50})"},
    {39, 0, 1, nullptr, nullptr, nullptr, nullptr,
     "{\n\t\"event\":\t\"simreg\",\n\t\"handle\":\t257,\n\t\"simNo\":\t1,\n\t\"result\":\t1\n}"},
    {40, 2, 2, nullptr, nullptr, nullptr, nullptr,
     "{\n\t\"event\":\t\"shortsms_report\",\n\t\"handle\":\t257,\n\t\"result\":\t2\n}"},
    {41, kNegativeFive, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {42, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {43, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {44, 1, 100, nullptr, nullptr, nullptr, nullptr, nullptr},
    {45, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {99, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {-1, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {2, 0, 0, nullptr, nullptr, nullptr, nullptr, R"({"event":"plugout","handle":257})"},
};

// Raises the case's event on handle 257 from a library thread; its texts
// live until the call returns.
void raise_case(const EventCase& c)
{
    const std::string texts[] = {c.t1 ? c.t1 : "", c.t2 ? c.t2 : "", c.t3 ? c.t3 : "",
                                 c.t4 ? c.t4 : ""};
    const auto p = [&](int i, unsigned long number, const char* text) {
        return text ? olva_fake::text_param(texts[i]) : number;
    };
    ASSERT_TRUE(olva_fake::raise(257, c.code, p(0, c.p1, c.t1), p(1, c.p2, c.t2), p(2, 0, c.t3),
                                 p(3, 0, c.t4)));
}

TEST_F(WebEvents, EveryEventCodeSendsItsText)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const std::string sentinel = R"({"event":"answer","type":"uwebclose","handle":0,"result":""})";
    for (const EventCase& c : kEvents) {
        SCOPED_TRACE("event " + std::to_string(c.code));
        raise_case(c);
        // The event was posted before this frame arrives, so its text, if
        // any, comes first.
        ASSERT_TRUE(client->send(R"({"event":"uwebclose"})"));
        if (c.text) {
            EXPECT_EQ(client->read(), c.text);
        }
        EXPECT_EQ(client->read(), sentinel);
    }
}

TEST_F(WebEvents, IndentedTextsAreCJsonsFormattedPrint)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    raise(513, OLVA_EVENT_SIGNAL_SIZE, 4294967296ul);
    const auto text = client->read();
    ASSERT_TRUE(text);
    cJSON* json = cJSON_Parse(text->c_str());
    ASSERT_TRUE(json);
    char* printed = cJSON_Print(json);
    EXPECT_EQ(*text, printed);
    EXPECT_EQ(cJSON_GetObjectItem(json, "size")->valuedouble, 4294967296.0);
    EXPECT_EQ(cJSON_GetObjectItem(json, "handle")->valueint, 513);
    cJSON_free(printed);
    cJSON_Delete(json);
}

TEST_F(WebEvents, TextsFromOutsideStayInsideTheirStrings)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const std::string number = "123\",\"event\":\"plugout";
    const std::string sms = "line one\r\nline \"two\" \\ \x01 \xFF end";
    const std::string from = "+86\t138";
    const std::string empty;
    raise(257, OLVA_EVENT_CALLER_ID, olva_fake::text_param(number));
    raise(257, OLVA_EVENT_SHORT_MSG, olva_fake::text_param(from), olva_fake::text_param(empty),
          olva_fake::text_param(sms), 0);
    raise(257, OLVA_EVENT_GSM_MSG, 0, 0);  // a null text pointer

    const auto caller = client->read();
    const auto message = client->read();
    const auto module = client->read();
    ASSERT_TRUE(caller && message && module);

    cJSON* json = cJSON_Parse(caller->c_str());
    ASSERT_TRUE(json) << *caller;
    EXPECT_STREQ(cJSON_GetObjectItem(json, "event")->valuestring, "callerId");
    EXPECT_EQ(cJSON_GetObjectItem(json, "callernumber")->valuestring, number);
    cJSON_Delete(json);

    json = cJSON_Parse(message->c_str());
    ASSERT_TRUE(json) << *message;
    EXPECT_EQ(cJSON_GetObjectItem(json, "from")->valuestring, from);
    EXPECT_EQ(cJSON_GetObjectItem(json, "result")->valuestring,
              std::string("line one\r\nline \"two\" \\ \x01 \xEF\xBF\xBD end"));
    EXPECT_STREQ(cJSON_GetObjectItem(json, "divided")->valuestring, "");
    cJSON_Delete(json);

    EXPECT_EQ(*module, R"({"event":"msg","handle":257,"result":""})");
}

TEST_F(WebEvents, PlugEventsBindAndFreeSlotsWithBalloons)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    raise(257, OLVA_EVENT_PLUG_IN);
    raise(258, OLVA_EVENT_PLUG_IN);
    EXPECT_EQ(client->read(), R"({"event":"plugin","handle":257})");
    EXPECT_EQ(client->read(), R"({"event":"plugin","handle":258})");
    const std::string fresh = ",\"deviceError\":0,\"simNo\":-1,\"simReg\":-1,\"simState\":-1,"
                              "\"deviceAlarm\":0,\"devicePlayAlarm\":0,\"devicePlayAlarmParam\":0}";
    EXPECT_EQ(getinfo(*client), "{\"event\":\"getinfo\",\"workpath\":\"" + app_dir_ +
                                    "/\",\"channels\":[{\"handle\":257" + fresh + ",{\"handle\":258" +
                                    fresh + "]}");
    ASSERT_TRUE(tray_.wait_for_balloons(2));
    for (const auto& balloon : tray_.balloons()) {
        EXPECT_EQ(balloon.title, "提示");
        EXPECT_EQ(balloon.text, "检测到USB盒子连接");
        EXPECT_EQ(balloon.timeout, 10u);
        EXPECT_EQ(balloon.flags, 1);
    }

    raise(257, OLVA_EVENT_PLUG_OUT);
    raise(258, OLVA_EVENT_PLUG_OUT);
    EXPECT_EQ(client->read(), R"({"event":"plugout","handle":257})");
    EXPECT_EQ(client->read(), R"({"event":"plugout","handle":258})");
    EXPECT_EQ(getinfo(*client),
              "{\"event\":\"getinfo\",\"workpath\":\"" + app_dir_ + "/\",\"channels\":[]}");
    ASSERT_TRUE(tray_.wait_for_balloons(4));
    EXPECT_EQ(tray_.balloons()[3].text, "USB盒子被拨除");
}

TEST_F(WebEvents, EventsFillTheLineSlots)
{
    start();
    raise(513, OLVA_EVENT_ALARM, 2, 1);  // no slot bound yet: kept in the first free one
    raise(257, OLVA_EVENT_PLUG_IN);      // binds that same slot
    raise(257, OLVA_EVENT_ALARM, 3, 12);
    raise(258, OLVA_EVENT_PLUG_IN);
    raise(258, OLVA_EVENT_DEVICE_ERROR, 1);
    raise(258, OLVA_EVENT_SIM_STATE, 2, 3);
    raise(258, OLVA_EVENT_SIM_REG, 0, 5);
    raise(769, OLVA_EVENT_DEVICE_ERROR, 1);  // no slot: the text still goes out
    raise(769, OLVA_EVENT_SIM_STATE, 1, 1);

    auto client = connect();  // events before a client connects still count
    ASSERT_TRUE(client);
    EXPECT_EQ(getinfo(*client),
              "{\"event\":\"getinfo\",\"workpath\":\"" + app_dir_ +
                  "/\",\"channels\":["
                  "{\"handle\":257,\"deviceError\":0,\"simNo\":-1,\"simReg\":-1,\"simState\":-1,"
                  "\"deviceAlarm\":2,\"devicePlayAlarm\":3,\"devicePlayAlarmParam\":12},"
                  "{\"handle\":258,\"deviceError\":1,\"simNo\":1,\"simReg\":5,\"simState\":3,"
                  "\"deviceAlarm\":0,\"devicePlayAlarm\":0,\"devicePlayAlarmParam\":0}]}");

    // A plug-in of a bound handle keeps its alarms and resets its SIM fields.
    raise(258, OLVA_EVENT_PLUG_IN);
    EXPECT_EQ(client->read(), R"({"event":"plugin","handle":258})");
    const std::string info = getinfo(*client);
    EXPECT_NE(info.find("{\"handle\":258,\"deviceError\":1,\"simNo\":-1,\"simReg\":-1,\"simState\":-1,"),
              std::string::npos)
        << info;
}

TEST_F(WebEvents, ANinthLineFindsNoSlotAndSendsNothing)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const unsigned long handles[] = {257, 258, 513, 514, 769, 770, 1025, 1026};
    for (unsigned long h : handles) {
        raise(h, OLVA_EVENT_PLUG_IN);
        EXPECT_EQ(client->read(), "{\"event\":\"plugin\",\"handle\":" + std::to_string(h) + "}");
    }
    raise(1281, OLVA_EVENT_PLUG_IN);
    const std::string info = getinfo(*client);  // comes first: no plug-in text went out
    EXPECT_EQ(info.find("1281"), std::string::npos);
    for (unsigned long h : handles)
        EXPECT_NE(info.find("{\"handle\":" + std::to_string(h) + ","), std::string::npos) << h;
    EXPECT_TRUE(tray_.wait_for_balloons(9)) << "the balloon is shown all the same";
}

TEST_F(WebEvents, LinesPluggedFromManyThreadsAtOnceTakeDistinctSlots)
{
    start();
    auto client = connect();
    ASSERT_TRUE(client);
    const unsigned long handles[] = {257, 258, 513, 514, 769, 770, 1025, 1026};
    std::vector<std::thread> threads;
    for (unsigned long h : handles)
        threads.emplace_back([h] { olva_fake::raise(h, OLVA_EVENT_PLUG_IN); });
    for (auto& t : threads)
        t.join();
    for (std::size_t i = 0; i < std::size(handles); ++i)
        ASSERT_TRUE(client->read());
    const std::string info = getinfo(*client);
    for (unsigned long h : handles)
        EXPECT_NE(info.find("{\"handle\":" + std::to_string(h) + ","), std::string::npos) << h;
}

TEST_F(WebEvents, BalloonsForTheEventsAUserShouldNotice)
{
    const std::pair<EventCase, const char*> cases[] = {
        {{1, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}, "检测到USB盒子连接"},
        {{2, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}, "USB盒子被拨除"},
        {{3, 3, 1, nullptr, nullptr, nullptr, nullptr, nullptr}, "USB盒子告警，打开放音设备失败"},
        {{3, 2, 1, nullptr, nullptr, nullptr, nullptr, nullptr}, "USB盒子告警，打开录音设备失败"},
        {{13, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}, "电话线未连接或者电话线有故障"},
        {{24, 1, 0, nullptr, nullptr, nullptr, nullptr, nullptr}, "USB盒子错误，不能收来电号码"},
    };
    start();
    // The balloon is asked for on the raising thread, before raise returns.
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        raise_case(cases[i].first);
        ASSERT_EQ(tray_.balloons().size(), i + 1) << cases[i].first.code;
        EXPECT_EQ(tray_.balloons().back().text, cases[i].second) << cases[i].first.code;
    }
    const std::size_t shown = tray_.balloons().size();
    // No other event asks for one.
    for (const EventCase& c : kEvents) {
        if (c.code != 1 && c.code != 2 && c.code != 3 && c.code != 13 && c.code != 24)
            raise_case(c);
    }
    EXPECT_EQ(tray_.balloons().size(), shown);
}

}  // namespace
}  // namespace olva_test
