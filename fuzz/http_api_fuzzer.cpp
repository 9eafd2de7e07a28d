// Requests of the HTTP API from pages: the input's first line is the method
// and the request target (path and query string), the rest is the body.
// The service runs in a temporary application directory over the fake
// device library, with its record database and "config.ini"; each request
// is handed to the service as its server hands it on, here on the fuzzer's
// thread while the web thread has nothing to do.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "base/logger.h"
#include "input_lines.h"
#include "support/fake_olva.h"
#include "ukit/olva_mgr.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string app = std::filesystem::temp_directory_path() / "olva-fuzz-http-XXXXXX";
    if (!mkdtemp(app.data()))
        std::abort();
    mkdir((app + "/webroot").c_str(), 0755);
    std::ofstream(app + "/config.ini") << "[CONFIG]\nHttpPort=0\n";
    std::ofstream(app + "/wakeup_count") << "7\n";
    std::ofstream(app + "/record.wav") << "RIFF";
    WebOptions options;
    options.exe_dir = app;
    options.wakeup_count_path = app + "/wakeup_count";
    // The service moves into its application directory; the fuzzer's
    // corpus is named relative to where it was started.
    char* started_in = getcwd(nullptr, 0);
    if (!started_in || uWebMgr.init_uWeb(options) != 0 || chdir(started_in) != 0)
        std::abort();
    std::free(started_in);
    // The service's threads end before the statics they log through go.
    std::atexit([] { uWebMgr.close_uWeb(); });
    // The service logs every request: not worth the time here.
    logger_enable(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string_view request_line = fuzz::next_line(text);
    const std::size_t space = request_line.find(' ');
    if (space == std::string_view::npos)
        return 0;
    web::HttpRequest req;
    const web::http::verb method = web::http::string_to_verb(request_line.substr(0, space));
    req.method(method == web::http::verb::unknown ? web::http::verb::post : method);
    req.target(request_line.substr(space + 1));
    req.version(11);
    req.set(web::http::field::host, "127.0.0.1");
    req.body() = std::string(text);
    // As the server's parser leaves it; prepare_payload would refuse a
    // body on some methods.
    if (!text.empty())
        req.content_length(text.size());
    web::WebEvents& service = uWebMgr;
    service.on_http_request(req);
    olva_fake::reset();
    return 0;
}
