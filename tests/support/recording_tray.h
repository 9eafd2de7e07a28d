// A tray for the web service's tests: it records the balloons and message
// boxes the service asks it to show.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "support/eventually.h"
#include "ukit/tray_notifier.h"

namespace olva_test {

class RecordingTray final : public TrayNotifier {
public:
    struct Balloon {
        std::string title;
        std::string text;
        unsigned timeout;
        int flags;
    };

    void ShowBalloon(const std::string& title, const std::string& text, unsigned timeout,
                     int flags) override;
    void ShowMessageBox(const std::string& text, const std::string& caption) override;

    std::vector<Balloon> balloons();
    std::vector<std::string> message_boxes();  // caption + "|" + text
    // Waits until count balloons have been asked for.
    bool wait_for_balloons(std::size_t count, std::chrono::milliseconds timeout = kWait);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Balloon> balloons_;
    std::vector<std::string> boxes_;
};

}  // namespace olva_test
