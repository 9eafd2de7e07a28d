#include "support/recording_tray.h"

namespace olva_test {

void RecordingTray::ShowBalloon(const std::string& title, const std::string& text, unsigned timeout,
                                int flags)
{
    std::lock_guard lock(mutex_);
    balloons_.push_back({title, text, timeout, flags});
    changed_.notify_all();
}

void RecordingTray::ShowMessageBox(const std::string& text, const std::string& caption)
{
    std::lock_guard lock(mutex_);
    boxes_.push_back(caption + "|" + text);
    changed_.notify_all();
}

std::vector<RecordingTray::Balloon> RecordingTray::balloons()
{
    std::lock_guard lock(mutex_);
    return balloons_;
}

std::vector<std::string> RecordingTray::message_boxes()
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

bool RecordingTray::wait_for_balloons(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return balloons_.size() >= count; });
}

}  // namespace olva_test
