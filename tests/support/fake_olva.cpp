#include "support/fake_olva.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdlib>
#include <condition_variable>
#include <map>
#include <mutex>
#include <sstream>

#include "base/base_ini.h"
#include "base/platform/paths.h"
#include "cavrel_olva.h"

namespace olva_fake {
namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Call> g_calls;          // guarded by g_mutex
std::map<std::string, int> g_results;  // guarded by g_mutex
float g_version = 0;                // guarded by g_mutex
std::string g_usernum;              // guarded by g_mutex
std::atomic<olva_event_callback> g_callback{nullptr};
std::function<void()> g_close_hook;  // set and run on the test's thread

int record(const std::string& function, const std::string& arguments = "")
{
    std::lock_guard lock(g_mutex);
    g_calls.push_back({arguments.empty() ? function : function + "(" + arguments + ")",
                       std::this_thread::get_id()});
    g_changed.notify_all();
    const auto result = g_results.find(function);
    return result == g_results.end() ? 0 : result->second;
}

}  // namespace

int record_call(const std::string& function, const std::string& arguments)
{
    return record(function, arguments);
}

namespace {

std::string handle_text(unsigned long h)
{
    return std::to_string(static_cast<long>(h));
}

std::string text(const void* p)
{
    return p ? static_cast<const char*>(p) : "(null)";
}

// A float in the default stream form: 1.26 gives "1.26", 1 gives "1".
std::string float_text(float value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

constexpr const char* kDeviceSection = "device";

std::string olva_ini()
{
    return platform::paths().applicationDirectory() + "/olva.ini";
}

// An integer key of "olva.ini"; a missing one takes fallback, written back.
int dtmf_int(const char* key, int fallback)
{
    const std::string path = olva_ini();
    const int value = readIntValue(kDeviceSection, key, path.c_str());
    if (value != -1)
        return value;
    writeIntValue(kDeviceSection, key, fallback, path.c_str());
    return fallback;
}

}  // namespace

void reset()
{
    std::lock_guard lock(g_mutex);
    g_calls.clear();
    g_results.clear();
    g_version = 0;
    g_usernum.clear();
    g_callback.store(nullptr);
    g_close_hook = nullptr;
}

std::vector<Call> calls()
{
    std::lock_guard lock(g_mutex);
    return g_calls;
}

bool was_called(const std::string& call)
{
    std::lock_guard lock(g_mutex);
    for (const Call& c : g_calls) {
        if (c.text == call)
            return true;
    }
    return false;
}

std::optional<Call> wait_for_call(const std::string& call, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(g_mutex);
    std::optional<Call> found;
    g_changed.wait_for(lock, timeout, [&] {
        for (const Call& c : g_calls) {
            if (c.text == call) {
                found = c;
                return true;
            }
        }
        return false;
    });
    return found;
}

void set_result(const std::string& function, int result)
{
    std::lock_guard lock(g_mutex);
    g_results[function] = result;
}

void set_version(float version)
{
    std::lock_guard lock(g_mutex);
    g_version = version;
}

void set_usernum(const std::string& bytes)
{
    std::lock_guard lock(g_mutex);
    g_usernum = bytes.substr(0, 16);
}

void set_close_hook(std::function<void()> hook)
{
    g_close_hook = std::move(hook);
}

bool is_open()
{
    return g_callback.load() != nullptr;
}

std::optional<std::thread::id> raise(unsigned long handle, int event, unsigned long p1,
                                     unsigned long p2, unsigned long p3, unsigned long p4)
{
    const olva_event_callback callback = g_callback.load();
    if (!callback)
        return std::nullopt;
    std::thread::id raiser;
    std::thread thread([&] {
        raiser = std::this_thread::get_id();
        callback(handle, event, p1, p2, p3, p4);
    });
    thread.join();
    return raiser;
}

unsigned long text_param(const std::string& text)
{
    return reinterpret_cast<unsigned long>(text.c_str());
}

}  // namespace olva_fake

using olva_fake::handle_text;
using olva_fake::record;
using olva_fake::text;

extern "C" {

int olva_open(olva_event_callback cb)
{
    const int result = record("olva_open");
    if (olva_fake::g_callback.load())
        return OLVA_ERR_BUSY;
    if (result == 0)
        olva_fake::g_callback.store(cb);
    return result;
}

void olva_close()
{
    record("olva_close");
    if (olva_fake::g_close_hook)
        olva_fake::g_close_hook();
    olva_fake::g_callback.store(nullptr);
}

void olva_open_logfileEx(const char* dir)
{
    record("olva_open_logfileEx", text(dir));
}

void olva_close_logfile()
{
    record("olva_close_logfile");
}

int olva_stop_read_line_voltage(unsigned long h)
{
    return record("olva_stop_read_line_voltage", handle_text(h));
}

int olva_start_read_line_voltage(unsigned long h)
{
    return record("olva_start_read_line_voltage", handle_text(h));
}

int olva_soft_hook_off(unsigned long h)
{
    return record("olva_soft_hook_off", handle_text(h));
}

int olva_soft_hook_on(unsigned long h)
{
    return record("olva_soft_hook_on", handle_text(h));
}

int olva_play_file(unsigned long h, const char* path)
{
    return record("olva_play_file", handle_text(h) + "," + text(path));
}

int olva_send_dtmf(unsigned long h, const char* digits)
{
    return record("olva_send_dtmf", handle_text(h) + "," + text(digits));
}

int olva_stop_play(unsigned long h)
{
    return record("olva_stop_play", handle_text(h));
}

int olva_record_file(unsigned long h, const char* path, int coder)
{
    return record("olva_record_file", handle_text(h) + "," + text(path) + "," + std::to_string(coder));
}

int olva_stop_record(unsigned long h)
{
    return record("olva_stop_record", handle_text(h));
}

int olva_get_device_versionnum(unsigned long h, float* version)
{
    const int result = record("olva_get_device_versionnum", handle_text(h));
    std::lock_guard lock(olva_fake::g_mutex);
    if (result == 0 && version)
        *version = olva_fake::g_version;
    return result;
}

int olva_get_usernum(unsigned long h, char* data, int len)
{
    const int result = record("olva_get_usernum", handle_text(h) + "," + std::to_string(len));
    std::lock_guard lock(olva_fake::g_mutex);
    if (result > 0 && data)
        std::memcpy(data, olva_fake::g_usernum.data(),
                    std::min<std::size_t>(olva_fake::g_usernum.size(), static_cast<std::size_t>(len)));
    return result;
}

int olva_get_product_ID(unsigned long h)
{
    return record("olva_get_product_ID", handle_text(h));
}

int olva_send_gsm_cmd(unsigned long h, char* cmd, int len)
{
    return record("olva_send_gsm_cmd",
                  handle_text(h) + "," + text(cmd) + "," + std::to_string(len));
}

int olva_makecall(unsigned long h, char* number)
{
    return record("olva_makecall", handle_text(h) + "," + text(number));
}

int olva_reject_call(unsigned long h)
{
    return record("olva_reject_call", handle_text(h));
}

int olva_set_talk_link(unsigned long h, int type, int on)
{
    return record("olva_set_talk_link",
                  handle_text(h) + "," + std::to_string(type) + "," + std::to_string(on));
}

int olva_set_record_enable(unsigned long h, int type, int on)
{
    return record("olva_set_record_enable",
                  handle_text(h) + "," + std::to_string(type) + "," + std::to_string(on));
}

int olva_makecallSlic(unsigned long h, int a, int b, char* number)
{
    return record("olva_makecallSlic", handle_text(h) + "," + std::to_string(a) + "," +
                                           std::to_string(b) + "," + text(number));
}

int olva_select_simcard(unsigned long h, unsigned sim)
{
    return record("olva_select_simcard", handle_text(h) + "," + std::to_string(sim));
}

int olva_gsm_power(unsigned long h, unsigned on)
{
    return record("olva_gsm_power", handle_text(h) + "," + std::to_string(on));
}

int olva_gsm_bootkey(unsigned long h, unsigned on)
{
    return record("olva_gsm_bootkey", handle_text(h) + "," + std::to_string(on));
}

int olva_judge_file_size(const char* path)
{
    return record("olva_judge_file_size", text(path));
}

int olva_delete_file(const char* path)
{
    return record("olva_delete_file", text(path));
}

int olva_get_send_dtmf_param(int* tone_time, int* silence_time, float* dtmf_cof, int* dtmf_scale,
                             int* speaker_volume)
{
    const int result = record("olva_get_send_dtmf_param");
    *tone_time = olva_fake::dtmf_int("tone_time", 100);
    *silence_time = olva_fake::dtmf_int("silence_time", 80);
    *dtmf_scale = olva_fake::dtmf_int("dtmf_scale", 220);
    *speaker_volume = olva_fake::dtmf_int("speaker_volume", 10);
    const std::string path = olva_fake::olva_ini();
    char cof[INI_VALUE_SIZE] = {};
    if (readStringValue(olva_fake::kDeviceSection, "dtmf_cof", cof, path.c_str()) == -1) {
        writeStringVlaue(olva_fake::kDeviceSection, "dtmf_cof", "1.26", path.c_str());
        *dtmf_cof = 1.26f;
    } else {
        *dtmf_cof = std::strtof(cof, nullptr);
    }
    return result;
}

int olva_set_send_dtmf_param(unsigned long h, int tone_time, int silence_time, float dtmf_cof,
                             int dtmf_scale, int speaker_volume)
{
    const int result =
        record("olva_set_send_dtmf_param",
               handle_text(h) + "," + std::to_string(tone_time) + "," + std::to_string(silence_time) +
                   "," + olva_fake::float_text(dtmf_cof) + "," + std::to_string(dtmf_scale) + "," +
                   std::to_string(speaker_volume));
    if (result != 0)
        return result;
    const std::string path = olva_fake::olva_ini();
    writeIntValue(olva_fake::kDeviceSection, "tone_time", tone_time, path.c_str());
    writeIntValue(olva_fake::kDeviceSection, "silence_time", silence_time, path.c_str());
    writeIntValue(olva_fake::kDeviceSection, "dtmf_scale", dtmf_scale, path.c_str());
    writeIntValue(olva_fake::kDeviceSection, "speaker_volume", speaker_volume, path.c_str());
    writeStringVlaue(olva_fake::kDeviceSection, "dtmf_cof", olva_fake::float_text(dtmf_cof).c_str(),
                     path.c_str());
    return 0;
}

int olva_uploadFile(const void* url, const void* param, const void* path)
{
    return record("olva_uploadFile", text(url) + "," + text(param) + "," + text(path));
}

}  // extern "C"
