#include "support/headless_browser.h"

#include <cJSON.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace olva_test {
namespace {

using Json = std::unique_ptr<cJSON, decltype(&cJSON_Delete)>;

Json parse(const std::string& text)
{
    return Json(cJSON_Parse(text.c_str()), &cJSON_Delete);
}

std::string text_member(const cJSON* object, const char* name)
{
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsString(item) ? item->valuestring : "";
}

// The path of the page's DevTools WebSocket, from /json/list.
std::string page_socket_path(unsigned short port, const std::string& url)
{
    ClientOptions options;
    options.port = port;
    options.target = "/json/list";
    const HttpResult list = http_request(options);
    const Json targets = parse(list.body);
    const cJSON* target = nullptr;
    cJSON_ArrayForEach(target, targets.get())
    {
        if (text_member(target, "type") != "page" || text_member(target, "url").rfind(url, 0) != 0)
            continue;
        // ws://127.0.0.1:<port>/devtools/page/<id>
        const std::string socket = text_member(target, "webSocketDebuggerUrl");
        const std::size_t path = socket.find("/devtools/");
        if (path != std::string::npos)
            return socket.substr(path);
    }
    return {};
}

}  // namespace

HeadlessBrowser::~HeadlessBrowser()
{
    page_.reset();
    browser_.reset();
}

bool HeadlessBrowser::open(const std::string& url, const std::string& profile_dir, std::string* error,
                           const std::vector<std::string>& extra_flags)
{
    ChildOptions options;
    options.argv = {kProgram,
                    "--headless",
                    "--no-sandbox",
                    "--disable-gpu",
                    "--disable-background-networking",
                    "--disable-component-update",
                    "--disable-sync",
                    "--no-first-run",
                    "--user-data-dir=" + profile_dir,
                    "--remote-debugging-port=0"};
    options.argv.insert(options.argv.end(), extra_flags.begin(), extra_flags.end());
    options.argv.push_back(url);
    options.output_file = profile_dir + ".log";
    browser_ = ChildProcess::start(options, error);
    if (!browser_)
        return false;

    // The browser writes its DevTools port into the profile once it listens.
    const std::string port_file = profile_dir + "/DevToolsActivePort";
    unsigned short port = 0;
    std::string path;
    const bool attached = eventually(
        [&] {
            if (!browser_->running())
                return true;
            if (port == 0)
                port = static_cast<unsigned short>(std::atoi(readFile(port_file).c_str()));
            if (port != 0 && path.empty())
                path = page_socket_path(port, url);
            return !path.empty();
        },
        kWait, kProcessLookPause);
    if (!attached || path.empty()) {
        if (error)
            *error = "no DevTools page for " + url + ": " + readFile(options.output_file);
        return false;
    }
    ClientOptions socket;
    socket.port = port;
    socket.target = path;
    page_ = WsClient::connect(socket, error);
    if (!page_)
        return false;
    // The page is listed before it has loaded; a busy machine may take
    // longer to load it than a test waits for what the page shows. Until
    // the page commits, the initial about:blank document answers, complete
    // too: what a test sets up there is gone once the page comes.
    const bool loaded = eventually(
        [&] {
            return evaluate("location.href !== 'about:blank' && document.readyState").value_or("") == "complete";
        },
        kWait, kProcessLookPause);
    if (!loaded && error)
        *error = "the page " + url + " did not load";
    return loaded;
}

std::optional<std::string> HeadlessBrowser::evaluate(const std::string& expression)
{
    if (!page_)
        return std::nullopt;
    const int id = next_id_++;
    Json request(cJSON_CreateObject(), &cJSON_Delete);
    cJSON_AddNumberToObject(request.get(), "id", id);
    cJSON_AddStringToObject(request.get(), "method", "Runtime.evaluate");
    cJSON* params = cJSON_AddObjectToObject(request.get(), "params");
    cJSON_AddStringToObject(params, "expression", ("String(" + expression + ")").c_str());
    cJSON_AddBoolToObject(params, "returnByValue", true);
    char* text = cJSON_PrintUnformatted(request.get());
    const bool sent = page_->send(text);
    cJSON_free(text);
    if (!sent)
        return std::nullopt;

    // {"id":N,"result":{"result":{"type":"string","value":"..."}}}
    while (const auto message = page_->read()) {
        const Json reply = parse(*message);
        const cJSON* reply_id = cJSON_GetObjectItemCaseSensitive(reply.get(), "id");
        if (!cJSON_IsNumber(reply_id) || reply_id->valueint != id)
            continue;
        const cJSON* result = cJSON_GetObjectItemCaseSensitive(reply.get(), "result");
        if (cJSON_GetObjectItemCaseSensitive(result, "exceptionDetails"))
            return std::nullopt;
        const cJSON* value = cJSON_GetObjectItemCaseSensitive(
            cJSON_GetObjectItemCaseSensitive(result, "result"), "value");
        if (!cJSON_IsString(value))
            return std::nullopt;
        return std::string(value->valuestring);
    }
    return std::nullopt;
}

bool HeadlessBrowser::wait_until_holds(const std::string& expression, const std::string& needle,
                                       std::string* last)
{
    return eventually(
        [&] {
            const std::string value = evaluate(expression).value_or("(no value)");
            if (last)
                *last = value;
            return value.find(needle) != std::string::npos;
        },
        kWait, kProcessLookPause);
}

}  // namespace olva_test
