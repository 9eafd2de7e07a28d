// The pages of the local web server that the tray opens in the user's
// default browser.
#pragma once

#include <functional>
#include <string>

// "http://127.0.0.1:<port><path>"
std::string local_page_url(int port, const std::string& path);

// What hands a URL to the browser; true when it was handed over. The
// default is the toolkit's default-browser call.
using BrowserOpener = std::function<bool(const std::string& url)>;
// Installs opener; an empty one restores the default. On the GUI thread.
void set_browser_opener(BrowserOpener opener);

// Opens the page path of the web service at its configured port. On the
// GUI thread.
bool open_local_page(const std::string& path);
