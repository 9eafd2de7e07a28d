// The tray icon, the program's only window, with its popup menu, and the
// start and stop of the web service behind it. Everything here runs on the
// GUI thread.
#pragma once

#include <string>

#include <wx/taskbar.h>

class OlvaTaskBarIcon final : public wxTaskBarIcon {
public:
    enum MenuId {
        kMenuAbout = 10002,
        kMenuExit = 10003,
        kMenuHelp = 10004,
        kMenuSelfTest = 10005,
    };

    OlvaTaskBarIcon();
    ~OlvaTaskBarIcon() override;

    // True once this icon has shut the web service down.
    bool closed() const { return closed_; }
    void set_closed(bool closed) { closed_ = closed; }

    // A balloon request; nothing is shown.
    void ShowBalloon(const std::string& title, const std::string& text, unsigned timeout,
                     int flags);

    void OnLeftButtonDClick(wxTaskBarIconEvent& event);
    void OnMenuOpenAbout(wxCommandEvent& event);
    void OnMenuOpenIndex(wxCommandEvent& event);
    void OnMenuOpenHelp(wxCommandEvent& event);
    void OnMenuExit(wxCommandEvent& event);

protected:
    wxMenu* CreatePopupMenu() override;

private:
    bool closed_ = false;

    wxDECLARE_EVENT_TABLE();
};

// The one tray icon; null once it is deleted.
extern OlvaTaskBarIcon* g_taskBarIcon;
// The process's exit code: -1 at start, 1 after a failed start, 0 after an
// exit from the menu.
extern int g_exit_code;

// Starts the web service; its result, non-zero when it failed (the exit
// code is then 1).
int OlvaTaskInit();
// Stops the web service once and removes the tray icon; the event loop
// then ends.
void OlvaTaskExit();
