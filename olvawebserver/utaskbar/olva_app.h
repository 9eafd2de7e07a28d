// The application object: puts up the tray icon, starts the web service
// and asks, on the first run, for a restart of the computer.
#pragma once

#include <wx/app.h>

#include "utaskbar/gui_tray_notifier.h"

class MyApp final : public wxApp {
public:
    MyApp();
    ~MyApp() override;

    bool OnInit() override;
    // Runs the event loop while the tray icon is there; returns g_exit_code.
    int OnRun() override;
    int OnExit() override;

private:
    GuiTrayNotifier notifier_;
};

// Hands control to the toolkit with a new MyApp; returns the exit code.
int olva_tray_main(int argc, char** argv);
