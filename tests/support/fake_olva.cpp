#include "support/fake_olva.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>

#include "cavrel_olva.h"

namespace olva_fake {
namespace {

std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<Call> g_calls;          // guarded by g_mutex
std::map<std::string, int> g_results;  // guarded by g_mutex
float g_version = 0;                // guarded by g_mutex
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

std::string handle_text(unsigned long h)
{
    return std::to_string(static_cast<long>(h));
}

std::string text(const void* p)
{
    return p ? static_cast<const char*>(p) : "(null)";
}

}  // namespace

void reset()
{
    std::lock_guard lock(g_mutex);
    g_calls.clear();
    g_results.clear();
    g_version = 0;
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

int olva_play_file(unsigned long h, const char* path)
{
    return record("olva_play_file", handle_text(h) + "," + text(path));
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

int olva_get_product_ID(unsigned long h)
{
    return record("olva_get_product_ID", handle_text(h));
}

int olva_judge_file_size(const char* path)
{
    return record("olva_judge_file_size", text(path));
}

int olva_delete_file(const char* path)
{
    return record("olva_delete_file", text(path));
}

int olva_uploadFile(const void* url, const void* param, const void* path)
{
    return record("olva_uploadFile", text(url) + "," + text(param) + "," + text(path));
}

}  // extern "C"
