// What the web service asks of the desktop shell: a balloon for notices a
// user should see, and a message box when the service cannot start. The
// tray implements it and carries both to the GUI thread; they are called
// from the web thread, the GUI thread and the library's event threads.
#pragma once

#include <string>

class TrayNotifier {
public:
    virtual ~TrayNotifier() = default;
    virtual void ShowBalloon(const std::string& title, const std::string& text, unsigned timeout,
                             int flags) = 0;
    // An OK box with a warning icon.
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
};
