#include "utaskbar/local_pages.h"

#include <wx/utils.h>

#include "base/logger.h"
#include "ukit/olva_mgr.h"

namespace {

BrowserOpener g_opener;  // GUI thread only

bool launch_default_browser(const std::string& url)
{
    return wxLaunchDefaultBrowser(wxString::FromUTF8(url));
}

}  // namespace

std::string local_page_url(int port, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

void set_browser_opener(BrowserOpener opener)
{
    g_opener = std::move(opener);
}

bool open_local_page(const std::string& path)
{
    const std::string url = local_page_url(uWebMgr.configured_port(), path);
    const bool opened = g_opener ? g_opener(url) : launch_default_browser(url);
    if (!opened)
        logger(1, "olva server", "", " open url(%s) failed", url.c_str());
    return opened;
}
