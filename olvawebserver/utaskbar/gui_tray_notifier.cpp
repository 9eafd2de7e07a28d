#include "utaskbar/gui_tray_notifier.h"

#include <wx/app.h>
#include <wx/thread.h>

#include "base/logger.h"

GuiTrayNotifier::GuiTrayNotifier(BalloonSink balloon, MessageBoxSink message_box)
    : balloon_(std::move(balloon)), message_box_(std::move(message_box))
{
}

void GuiTrayNotifier::ShowBalloon(const std::string& title, const std::string& text,
                                  unsigned timeout, int flags)
{
    // The work owns copies: the caller's texts die with its event.
    on_gui_thread([sink = balloon_, title, text, timeout, flags] { sink(title, text, timeout, flags); });
}

void GuiTrayNotifier::ShowMessageBox(const std::string& text, const std::string& caption)
{
    on_gui_thread([sink = message_box_, text, caption] { sink(text, caption); });
}

void GuiTrayNotifier::on_gui_thread(std::function<void()> work)
{
    if (wxIsMainThread()) {
        work();
        return;
    }
    // QueueEvent underneath is safe from any thread and wakes the loop.
    if (wxAppConsole* app = wxAppConsole::GetInstance())
        app->CallAfter(std::move(work));
    else
        logger(2, "olva server", "", " no application: tray request dropped");
}
