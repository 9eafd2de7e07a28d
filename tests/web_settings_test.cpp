// The settings routes over real HTTP requests: the service's switches in
// "config.ini", the voltage thresholds in "olva.ini" (real INI files in the
// test's directory) and the DTMF sending settings handed to the library.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/base_ini.h"
#include "cavrel_olva.h"
#include "support/web_fixture.h"

namespace olva_test {
namespace {


const std::string kSuccess = formatted_json(R"({"code":200,"data":{"status":"success"}})");
const std::string kFailed = formatted_json(R"({"code":200,"data":{"status":"failed"}})");

std::string config_reply(const std::string& base, const std::string& voltage, const std::string& dial)
{
    return formatted_json(R"({"code":200,"data":{"baseForm":)" + base + R"(,"VolForm":)" + voltage +
                     R"(,"dialForm":)" + dial + "}}");
}

// The "data" member of a /GetConfigParam reply, one of its forms.
std::string form_of(const std::string& reply, const char* form)
{
    std::unique_ptr<cJSON, decltype(&cJSON_Delete)> json(cJSON_Parse(reply.c_str()), &cJSON_Delete);
    const cJSON* item =
        cJSON_GetObjectItemCaseSensitive(cJSON_GetObjectItemCaseSensitive(json.get(), "data"), form);
    char* printed = item ? cJSON_PrintUnformatted(item) : nullptr;
    std::string text = printed ? printed : "(missing)";
    cJSON_free(printed);
    return text;
}

class HttpSettings : public WebServiceTest {
protected:
    std::string config() const { return app_dir_ + "/config.ini"; }
    std::string olva_ini() const { return app_dir_ + "/olva.ini"; }

    int config_int(const char* key) const { return readIntValue("CONFIG", key, config().c_str()); }
    int device_int(const char* key) const { return readIntValue("device", key, olva_ini().c_str()); }
    std::string form(const char* name) { return form_of(request("/GetConfigParam").body, name); }

    // The calls of the library's DTMF setter since the call count was n.
    static std::vector<std::string> dtmf_sets_since(std::size_t n)
    {
        std::vector<std::string> found;
        const auto calls = olva_fake::calls();
        for (std::size_t i = n; i < calls.size(); ++i) {
            if (calls[i].text.starts_with("olva_set_send_dtmf_param"))
                found.push_back(calls[i].text);
        }
        return found;
    }
};

TEST_F(HttpSettings, ReportsTheSettingsOfBothFilesAndOfTheLibrary)
{
    start("Autorun=0\nenable_ring_buzzer=1\n");
    // HttpPort is read again, and written back when it has gone.
    writeFile(config(), "[CONFIG]\r\nAutorun=0\r\n");
    EXPECT_EQ(request("/GetConfigParam", "", "GET").body,
              config_reply(R"({"autorun":false,"enable_ring_buzzer":true,"pop_state_tip":true,"keep_only_conncet":true})",
                           R"({"hang_voltage":3,"hook_off_voltage":18,"ring_vol_thresh":25,"ring_vol_alt_thresh":3})",
                           R"({"dtmftonetime":100,"dtmfsilencetime":80,"dtmfscale":220,"dtmfcof":"2","dtmfspeakvol":10})"));
    EXPECT_EQ(config_int("HttpPort"), 8054);
    EXPECT_TRUE(wait_for_log("   get  config param"));
    // The thresholds shown for missing keys are not written.
    for (const char* key : {"hang_voltage", "hook_off_voltage", "ring_vol_thresh", "ring_vol_alt_thresh"})
        EXPECT_EQ(device_int(key), -1) << key;

    writeFile(olva_ini(), "[device]\r\nhang_voltage=5\r\nhook_off_voltage=20\r\nring_vol_thresh=16\r\n"
                          "ring_vol_alt_thresh=4\r\ntone_time=120\r\nsilence_time=60\r\ndtmf_scale=200\r\n"
                          "speaker_volume=12\r\ndtmf_cof=1\r\n");
    const std::string reply = request("/GetConfigParam").body;
    EXPECT_EQ(form_of(reply, "VolForm"),
              R"({"hang_voltage":5,"hook_off_voltage":20,"ring_vol_thresh":16,"ring_vol_alt_thresh":4})");
    EXPECT_EQ(form_of(reply, "dialForm"),
              R"({"dtmftonetime":120,"dtmfsilencetime":60,"dtmfscale":200,"dtmfcof":"1","dtmfspeakvol":12})");

    // The coefficient shows as "1" within 0.001 of 1.0, else as "2".
    const std::pair<const char*, const char*> coefficients[] = {
        {"1", "\"1\""}, {"1.0005", "\"1\""}, {"0.9995", "\"1\""}, {"1.002", "\"2\""}, {"1.26", "\"2\""}, {"1.5", "\"2\""},
    };
    for (const auto& [stored, shown] : coefficients) {
        SCOPED_TRACE(stored);
        ASSERT_EQ(writeStringVlaue("device", "dtmf_cof", stored, olva_ini().c_str()), 0);
        EXPECT_NE(form("dialForm").find(std::string("\"dtmfcof\":") + shown), std::string::npos);
    }
}

TEST_F(HttpSettings, BaseSettingsAreWrittenToConfigIni)
{
    start();
    struct Case {
        const char* body;
        const char* reply;
        int autorun, buzzer, keep_only, pop_tip;  // in the file afterwards
    };
    const Case cases[] = {
        {R"({"autorun":0})", "success", 0, 0, 1, 1},
        {R"({"ENABLE_RING_BUZZER":1,"pop_state_tip":0})", "success", 0, 1, 1, 0},
        {R"({"keep_only_conncet":0,"autorun":true})", "success", 1, 1, 0, 0},
        {R"({"autorun":"0","pop_state_tip":null})", "success", 1, 1, 0, 0},
        {"{}", "success", 1, 1, 0, 0},
        {"not json", "failed", 1, 1, 0, 0},
        {R"([{"autorun":0}])", "failed", 1, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(request("/SetBaseConfigParam", c.body).body, std::string(c.reply) == "success" ? kSuccess : kFailed);
        EXPECT_EQ(config_int("Autorun"), c.autorun);
        EXPECT_EQ(config_int("enable_ring_buzzer"), c.buzzer);
        EXPECT_EQ(config_int("keep_only_conncet"), c.keep_only);
        EXPECT_EQ(config_int("pop_state_tip"), c.pop_tip);
        auto flag = [](int v) { return v ? "true" : "false"; };
        EXPECT_EQ(form("baseForm"), std::string(R"({"autorun":)") + flag(c.autorun) + R"(,"enable_ring_buzzer":)" +
                                        flag(c.buzzer) + R"(,"pop_state_tip":)" + flag(c.pop_tip) +
                                        R"(,"keep_only_conncet":)" + flag(c.keep_only) + "}");
    }
    const std::string log = log_text();
    for (const char* line : {"   set auto run:0", "   set enable_ring_buzzer:1", "   set pop state tip:0",
                             "   set keep_only_connceted:0", "   set auto run:1", "   set dial config param:-1"})
        EXPECT_NE(log.find(line), std::string::npos) << line;

    // keep_only_conncet 0 takes effect at once: a second client leaves the
    // first one connected.
    auto first = connect();
    auto second = connect();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->send("{\"event\":\"getinfo\"}"));
    EXPECT_TRUE(first->read().has_value());
    EXPECT_FALSE(first->got_close_frame());

    // A setting that cannot be written is reported as failed.
    std::filesystem::remove(config());
    std::filesystem::create_directory(config());
    EXPECT_EQ(request("/SetBaseConfigParam", R"({"autorun":0})").body, kFailed);
    EXPECT_TRUE(wait_for_log("   write Autorun to " + config() + " failed"));
}

TEST_F(HttpSettings, VoltageThresholdsAreWrittenToOlvaIni)
{
    start();
    struct Case {
        const char* body;
        const char* reply;
        const char* shown;  // VolForm afterwards
    };
    const Case cases[] = {
        {R"({"hang_voltage":5})", "success",
         R"({"hang_voltage":5,"hook_off_voltage":18,"ring_vol_thresh":25,"ring_vol_alt_thresh":3})"},
        {R"({"HOOK_OFF_VOLTAGE":20,"ring_vol_thresh":16,"ring_vol_alt_thresh":4})", "success",
         R"({"hang_voltage":5,"hook_off_voltage":20,"ring_vol_thresh":16,"ring_vol_alt_thresh":4})"},
        {R"({"hang_voltage":"7","ring_vol_thresh":{}})", "success",
         R"({"hang_voltage":5,"hook_off_voltage":20,"ring_vol_thresh":16,"ring_vol_alt_thresh":4})"},
        {"not json", "failed",
         R"({"hang_voltage":5,"hook_off_voltage":20,"ring_vol_thresh":16,"ring_vol_alt_thresh":4})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        EXPECT_EQ(request("/SetVoltageConfigParam", c.body).body, std::string(c.reply) == "success" ? kSuccess : kFailed);
        EXPECT_EQ(form("VolForm"), c.shown);
    }
    EXPECT_EQ(device_int("hang_voltage"), 5);
    EXPECT_EQ(device_int("hook_off_voltage"), 20);
    EXPECT_EQ(device_int("ring_vol_thresh"), 16);
    EXPECT_EQ(device_int("ring_vol_alt_thresh"), 4);
    const std::string log = log_text();
    for (const char* line : {"   set hang voltarge threshold:5", "   set hookoff voltarge threshold:20",
                             "   set ring vol threshold:16", "   set ring vol count threshold:4"})
        EXPECT_NE(log.find(line), std::string::npos) << line;

    std::filesystem::remove(olva_ini());
    std::filesystem::create_directory(olva_ini());
    EXPECT_EQ(request("/SetVoltageConfigParam", R"({"hang_voltage":6})").body, kFailed);
}

TEST_F(HttpSettings, DialSettingsGoToTheLibraryForTheFirstLineInUse)
{
    start();
    // No line in use: nothing is handed to the library.
    std::size_t n = olva_fake::calls().size();
    EXPECT_EQ(request("/SetDialConfigParam", R"({"dtmftonetime":90})").body, kFailed);
    EXPECT_EQ(dtmf_sets_since(n), std::vector<std::string>{});
    EXPECT_TRUE(wait_for_log("   set dial config param:-1"));

    raise(513, OLVA_EVENT_PLUG_IN);
    raise(257, OLVA_EVENT_PLUG_IN);
    struct Case {
        const char* body;
        int result;        // of the library's setter
        const char* call;  // the one call expected, or null for none
        const char* reply;
    };
    const Case cases[] = {
        {R"({"dtmftonetime":90,"dtmfsilencetime":60,"dtmfscale":200,"dtmfspeakvol":12,"dtmfcof":"1"})", 0,
         "olva_set_send_dtmf_param(513,90,60,1,200,12)", "success"},
        {R"({"DTMFCOF":"2"})", 0, "olva_set_send_dtmf_param(513,90,60,1.26,200,12)", "success"},
        {R"({"dtmfcof":1,"dtmfscale":"230"})", 0, "olva_set_send_dtmf_param(513,90,60,1.26,200,12)", "success"},
        {R"({"dtmfcof":"x"})", 0, "olva_set_send_dtmf_param(513,90,60,1,200,12)", "success"},
        {R"({"dtmftonetime":200})", -1, "olva_set_send_dtmf_param(513,200,60,1,200,12)", "failed"},
        {"not json", 0, nullptr, "failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        olva_fake::set_result("olva_set_send_dtmf_param", c.result);
        n = olva_fake::calls().size();
        EXPECT_EQ(request("/SetDialConfigParam", c.body).body, std::string(c.reply) == "success" ? kSuccess : kFailed);
        EXPECT_EQ(dtmf_sets_since(n), c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{});
    }
    // What the library stored is what the settings show.
    EXPECT_EQ(form("dialForm"),
              R"({"dtmftonetime":90,"dtmfsilencetime":60,"dtmfscale":200,"dtmfcof":"1","dtmfspeakvol":12})");
    EXPECT_EQ(device_int("tone_time"), 90);

    olva_fake::set_result("olva_set_send_dtmf_param", 0);
    raise(513, OLVA_EVENT_PLUG_OUT);
    n = olva_fake::calls().size();
    EXPECT_EQ(request("/SetDialConfigParam", "{}").body, kSuccess);
    EXPECT_EQ(dtmf_sets_since(n), std::vector<std::string>{"olva_set_send_dtmf_param(257,90,60,1,200,12)"});
    EXPECT_TRUE(wait_for_log("   set dial config param:0"));
}

}  // namespace
}  // namespace olva_test
