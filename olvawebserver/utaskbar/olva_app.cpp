#include "utaskbar/olva_app.h"

#include <wx/bmpbndl.h>
#include <wx/icon.h>
#include <wx/log.h>
#include <wx/msgdlg.h>

#include <glib-object.h>
#include <glib-unix.h>

#include <csignal>

#include "base/logger.h"
#include "ukit/olva_mgr.h"
#include "utaskbar/local_pages.h"
#include "utaskbar/olva_taskbar_icon.h"

#include "utaskbar/tel.xpm"

namespace {

constexpr const char* kCaption = "vude";
constexpr const char* kTooltip = "vude";
constexpr const char* kFirstRunQuestion =
    "    本软件安装后第一次运行，先重启操作系统\n    是否继续运行本软件？   \n"
    "  选择Yes，本软件会退出，请先重启操作系统，开机会自动重启本软件    \n"
    "  如果安装完后，已经重启过操作系统，点击No,忽略本提示   \n";

void show_balloon(const std::string& title, const std::string& text, unsigned timeout, int flags)
{
    if (g_taskBarIcon)
        g_taskBarIcon->ShowBalloon(title, text, timeout, flags);
}

void show_warning_box(const std::string& text, const std::string& caption)
{
    wxMessageBox(wxString::FromUTF8(text), wxString::FromUTF8(caption), wxOK | wxICON_WARNING);
}

// The first-run question while it is shown, and whether a stop signal has
// come; GUI thread only.
wxMessageDialog* g_question = nullptr;
bool g_stop_signalled = false;

// A desktop logout or a kill sends SIGTERM, a terminal's ^C SIGINT: both
// end the program as the menu's exit does, on the GUI thread, so that
// recordings are closed whole and browsers get their close frames. GLib
// runs this from its main loop, never inside the signal handler; a second
// signal during the shut-down finds nothing left to do. The first-run
// question runs a loop of its own, which would keep the program alive: it
// is closed as its window's close button does.
gboolean on_stop_signal(gpointer signal_number)
{
    logger(-1, "olva server", "", " signal %d: shutting down", GPOINTER_TO_INT(signal_number));
    g_stop_signalled = true;
    if (g_question && g_question->GetHandle())
        g_signal_emit_by_name(g_question->GetHandle(), "close");
    if (g_taskBarIcon) {
        g_exit_code = 0;
        OlvaTaskExit();
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

MyApp::MyApp() : notifier_(show_balloon, show_warning_box) {}

MyApp::~MyApp()
{
    log_inoutto trace("~MyApp", 3, "olva server", "", "");
    uWebMgr.set_tray(nullptr);
    delete g_taskBarIcon;
}

bool MyApp::OnInit()
{
    log_inoutto trace("OnInit", 3, "olva server", "", "");
    if (!wxApp::OnInit())
        return false;
    // The program has no window: it ends when the tray icon goes.
    SetExitOnFrameDelete(false);

    g_taskBarIcon = new OlvaTaskBarIcon;
    if (!g_taskBarIcon->SetIcon(wxBitmapBundle(wxIcon(tel_xpm)), kTooltip))
        wxLogError(wxString::FromUTF8("不能设置托盘图标."));

    for (const int signal_number : {SIGTERM, SIGINT})
        g_unix_signal_add(signal_number, on_stop_signal, GINT_TO_POINTER(signal_number));
    uWebMgr.set_tray(&notifier_);
    if (OlvaTaskInit() != 0)
        OnExit();

    if (uWebMgr.get_system_work_runcount() == 0) {
        wxMessageDialog question(nullptr, wxString::FromUTF8(kFirstRunQuestion), kCaption,
                                 wxYES_NO | wxICON_QUESTION);
        g_question = &question;
        const int answer = question.ShowModal();
        g_question = nullptr;
        if (g_stop_signalled)
            return true;
        if (answer == wxID_YES)
            OnExit();
        else
            open_local_page("/doc/index.html");
    }
    return true;
}

int MyApp::OnRun()
{
    if (g_taskBarIcon)
        wxApp::OnRun();
    return g_exit_code;
}

int MyApp::OnExit()
{
    log_inoutto trace("OnExit", 3, "olva server", "", "");
    if (g_taskBarIcon)
        OlvaTaskExit();
    wxApp::OnExit();
    return g_exit_code;
}

int olva_tray_main(int argc, char** argv)
{
    wxApp::SetInstance(new MyApp);
    return wxEntry(argc, argv);
}
