// The web service's balloons and message boxes, carried to the GUI thread.
// The web thread and the library's event threads ask for them; the toolkit
// may be touched on the GUI thread only.
#pragma once

#include <functional>
#include <string>

#include "ukit/tray_notifier.h"

class GuiTrayNotifier final : public TrayNotifier {
public:
    using BalloonSink = std::function<void(const std::string& title, const std::string& text,
                                           unsigned timeout, int flags)>;
    using MessageBoxSink = std::function<void(const std::string& text, const std::string& caption)>;

    // Both sinks run on the GUI thread.
    GuiTrayNotifier(BalloonSink balloon, MessageBoxSink message_box);

    // On the GUI thread the sink runs at once; from any other thread it is
    // queued to the GUI thread and the caller goes on.
    void ShowBalloon(const std::string& title, const std::string& text, unsigned timeout,
                     int flags) override;
    // On the GUI thread the box is shown before this returns, so that a
    // failed start is reported before the program ends.
    void ShowMessageBox(const std::string& text, const std::string& caption) override;

private:
    void on_gui_thread(std::function<void()> work);

    BalloonSink balloon_;
    MessageBoxSink message_box_;
};
