// A stand-in for the device library in the web service's tests: the olva_
// functions that the service calls, each recording its call with the thread
// it ran on, results chosen by the test, and events raised through the
// registered callback on a thread of the test's own. The DTMF sending
// settings live in "olva.ini" of the application directory
// (platform::paths()), read and written with the real INI functions as the
// library does.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"

namespace olva_fake {

struct Call {
    std::string text;  // e.g. "olva_play_file(257,tip.wav)"
    std::thread::id thread;
};

// Forgets the calls, the results and the callback.
void reset();
std::vector<Call> calls();
bool was_called(const std::string& text);
// Waits until a call with this text has been recorded.
std::optional<Call> wait_for_call(const std::string& text,
                                  std::chrono::milliseconds timeout = olva_test::kWait);

// What the named function returns from now on (0 until set).
void set_result(const std::string& function, int result);
// The version olva_get_device_versionnum stores.
void set_version(float version);
// The bytes olva_get_usernum stores (at most 16) when its result is above 0.
void set_usernum(const std::string& bytes);
bool is_open();
// Runs inside olva_close, before the callback is dropped.
void set_close_hook(std::function<void()> hook);

// Calls the registered callback on a new thread and joins that thread.
// Returns the thread's id, or nothing when no callback is registered.
std::optional<std::thread::id> raise(unsigned long handle, int event, unsigned long p1 = 0,
                                     unsigned long p2 = 0, unsigned long p3 = 0,
                                     unsigned long p4 = 0);
// A text as an event parameter; valid while the string lives.
unsigned long text_param(const std::string& text);
// Records a call of function with its arguments as the other stand-ins do,
// for the stand-ins kept in files of their own; its chosen result.
int record_call(const std::string& function, const std::string& arguments);

}  // namespace olva_fake
