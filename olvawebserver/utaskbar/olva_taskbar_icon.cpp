#include "utaskbar/olva_taskbar_icon.h"

#include <wx/app.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>

#include "base/logger.h"
#include "ukit/olva_mgr.h"
#include "ukit/version.h"
#include "utaskbar/local_pages.h"

OlvaTaskBarIcon* g_taskBarIcon = nullptr;
int g_exit_code = -1;

namespace {

constexpr const char* kCaption = "vude";
constexpr const char* kSelfTestPage = "/test/index.html";
constexpr const char* kHelpPage = "/doc/index.html";

}  // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(OlvaTaskBarIcon, wxTaskBarIcon)
    EVT_MENU(OlvaTaskBarIcon::kMenuAbout, OlvaTaskBarIcon::OnMenuOpenAbout)
    EVT_MENU(OlvaTaskBarIcon::kMenuSelfTest, OlvaTaskBarIcon::OnMenuOpenIndex)
    EVT_MENU(OlvaTaskBarIcon::kMenuHelp, OlvaTaskBarIcon::OnMenuOpenHelp)
    EVT_MENU(OlvaTaskBarIcon::kMenuExit, OlvaTaskBarIcon::OnMenuExit)
    EVT_TASKBAR_LEFT_DCLICK(OlvaTaskBarIcon::OnLeftButtonDClick)
wxEND_EVENT_TABLE()
// clang-format on

OlvaTaskBarIcon::OlvaTaskBarIcon() = default;

OlvaTaskBarIcon::~OlvaTaskBarIcon()
{
    log_inoutto trace("~OlvaTaskBarIcon", 3, "olva server", "", "");
    if (!closed_) {
        uWebMgr.close_uWeb();
        logger(-1, "userver", "", " close taskbar");
        closed_ = true;
    }
    if (g_taskBarIcon == this)
        g_taskBarIcon = nullptr;
}

void OlvaTaskBarIcon::ShowBalloon(const std::string&, const std::string&, unsigned, int) {}

wxMenu* OlvaTaskBarIcon::CreatePopupMenu()
{
    closed_ = false;
    auto* menu = new wxMenu;
    menu->Append(kMenuAbout, wxString::FromUTF8("关于"));
    menu->AppendSeparator();
    menu->Append(kMenuSelfTest, wxString::FromUTF8("自检测试"));
    menu->AppendSeparator();
    menu->Append(kMenuHelp, wxString::FromUTF8("帮助(html格式)"));
    menu->AppendSeparator();
    menu->AppendSeparator();
    menu->Append(kMenuExit, wxString::FromUTF8("退出"));
    return menu;
}

void OlvaTaskBarIcon::OnLeftButtonDClick(wxTaskBarIconEvent&) {}

void OlvaTaskBarIcon::OnMenuOpenAbout(wxCommandEvent&)
{
    const wxString text = wxString::Format(wxString::FromUTF8("   软件版本(%s)\t\t\n      %s\t\t\t\t"),
                                           kOlvaVersion, "");
    wxMessageBox(text, kCaption, wxOK);
}

void OlvaTaskBarIcon::OnMenuOpenIndex(wxCommandEvent&)
{
    open_local_page(kSelfTestPage);
}

void OlvaTaskBarIcon::OnMenuOpenHelp(wxCommandEvent&)
{
    open_local_page(kHelpPage);
}

void OlvaTaskBarIcon::OnMenuExit(wxCommandEvent&)
{
    log_inoutto trace("OnMenuExit", 3, "olva server", "", "");
    const int answer = wxMessageBox(
        wxString::FromUTF8("    是否退出系统？   \n  选择Yes，本软件会退出    \n"), kCaption, wxYES_NO);
    if (answer == wxYES) {
        logger(-1, "olva server", "", "  menu yes");
        OlvaTaskExit();
        g_exit_code = 0;
    }
}

int OlvaTaskInit()
{
    log_inoutto trace("OlvaTaskInit", 3, "olva server", "", "");
    if (g_taskBarIcon)
        g_taskBarIcon->set_closed(false);
    const int result = uWebMgr.init_uWeb();
    if (result != 0)
        g_exit_code = 1;
    return result;
}

void OlvaTaskExit()
{
    log_inoutto trace("OlvaTaskExit", 3, "olva server", "", "");
    if (g_taskBarIcon && !g_taskBarIcon->closed()) {
        logger(-1, "olva server", "", " OlvaTaskExit++");
        uWebMgr.close_uWeb();
        logger(-1, "olva server", "", " OlvaTaskExit--");
        g_taskBarIcon->set_closed(true);
    }
    if (g_taskBarIcon) {
        // This may run inside the icon's own menu handler: the toolkit
        // deletes it once the handler has returned.
        g_taskBarIcon->RemoveIcon();
        g_taskBarIcon->Destroy();
        g_taskBarIcon = nullptr;
    }
    // Nothing of the program is left to show. Outside the event loop (a
    // failed start) this does nothing and MyApp::OnRun does not enter it.
    if (wxTheApp)
        wxTheApp->ExitMainLoop();
}
