// The web service idle over the device library with no box on the
// (simulated) bus, as it sits on a desktop: its private memory (RssAnon)
// and thread count alone, then with 50 browsers connected. The service runs
// in a child process, so that the clients' memory is not counted.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_backend.h"
#include "support/fake_paths.h"
#include "support/temp_dir.h"
#include "bench_web_service.h"
#include "support/web_client.h"
#include "ukit/olva_mgr.h"

namespace {

constexpr int kBrowsers = 50;
constexpr long kTargetRssAnonKb = 25 * 1024;

struct Usage {
    long rss_anon_kb = -1;
    long threads = -1;
};

Usage usage_of(pid_t pid)
{
    Usage usage;
    std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!file)
        return usage;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        std::sscanf(line, "RssAnon: %ld", &usage.rss_anon_kb);
        std::sscanf(line, "Threads: %ld", &usage.threads);
    }
    std::fclose(file);
    return usage;
}

// The child: starts the service, tells its port and runs until the parent
// closes the pipe.
int serve(int port_out, int stop_in)
{
    olva_test::TempDir app_dir;
    olva_test::FakePaths paths;
    paths.setApplicationDirectory(app_dir.path());
    olva_sim::SimBackend sim;
    if (!olva_bench::start_web_service(app_dir))
        return 1;
    const unsigned short port = uWebMgr.http_port();
    if (write(port_out, &port, sizeof port) != sizeof port)
        return 1;
    char byte;
    while (read(stop_in, &byte, 1) > 0) {
    }
    uWebMgr.close_uWeb();
    return 0;
}

void print(const char* what, const Usage& usage)
{
    std::printf("%-24s RssAnon %6.1f MB (target under %.0f MB), threads %ld\n", what,
                usage.rss_anon_kb / 1024.0, kTargetRssAnonKb / 1024.0, usage.threads);
}

}  // namespace

int main()
{
    int port_pipe[2];
    int stop_pipe[2];
    if (pipe(port_pipe) != 0 || pipe(stop_pipe) != 0)
        return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(port_pipe[0]);
        close(stop_pipe[1]);
        // The service's log goes to its files; its start-up chatter is not
        // the bench's.
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        _exit(serve(port_pipe[1], stop_pipe[0]));
    }
    close(port_pipe[1]);
    close(stop_pipe[0]);
    unsigned short port = 0;
    if (read(port_pipe[0], &port, sizeof port) != sizeof port) {
        std::fprintf(stderr, "the service did not start\n");
        return 1;
    }

    const Usage idle = usage_of(child);
    olva_test::ClientOptions options;
    options.port = port;
    std::vector<std::unique_ptr<olva_test::WsClient>> browsers;
    for (int i = 0; i < kBrowsers; ++i) {
        std::string error;
        browsers.push_back(olva_test::WsClient::connect(options, &error));
        // Greeted: the service holds the connection.
        if (!browsers.back() || !browsers.back()->read()) {
            std::fprintf(stderr, "browser %d: %s\n", i, error.c_str());
            return 1;
        }
    }
    const Usage connected = usage_of(child);
    browsers.clear();
    close(stop_pipe[1]);
    int status = 0;
    waitpid(child, &status, 0);

    print("idle, no browser:", idle);
    print("50 browsers connected:", connected);
    const bool ok = connected.rss_anon_kb < kTargetRssAnonKb && connected.threads == idle.threads;
    std::printf("%s\n", ok ? "within target" : "over target");
    return 0;
}
