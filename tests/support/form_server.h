// form_server.py, a form server we did not write (Python's http.server, its
// email parser and, for https, its ssl module), started on a loopback port
// for an upload test.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace olva_test {

struct FormServerProcess {
    std::unique_ptr<ChildProcess> process;
    std::string port;
};

// Starts the server; it keeps the file parts it receives in parsed_dir (an
// existing directory) and writes its output to log_file. Given a
// certificate chain and its key (PEM files) it speaks https. Nothing, with
// the reason in error, when it does not start.
inline std::optional<FormServerProcess> start_form_server(const std::string& parsed_dir,
                                                          const std::string& log_file, std::string* error,
                                                          const std::string& cert_file = "",
                                                          const std::string& key_file = "")
{
    constexpr int kPortPipe = 3;
    ChildOptions options;
    options.argv = {"python3", FORM_SERVER_SCRIPT, std::to_string(kPortPipe), parsed_dir};
    if (!cert_file.empty())
        options.argv.insert(options.argv.end(), {cert_file, key_file});
    options.pipe_fd = kPortPipe;
    options.output_file = log_file;
    FormServerProcess server;
    server.process = ChildProcess::start(options, error);
    if (!server.process)
        return std::nullopt;
    const std::optional<std::string> port = server.process->read_pipe_line(kWait);
    if (!port) {
        *error = "the form server gave no port: " + readFile(log_file);
        return std::nullopt;
    }
    server.port = *port;
    return server;
}

}  // namespace olva_test
