// The library's log written into a directory of the test's own while the
// object lives; text() ends the log and reads back what it holds.
#pragma once

#include <filesystem>
#include <string>

#include "base/logger.h"
#include "support/temp_dir.h"

namespace olva_test {

class LogCapture {
public:
    LogCapture() { started_ = logger_init(dir_.path().c_str(), "olva") == 0; }
    ~LogCapture() { logger_close(); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool started() const { return started_; }
    std::string text() const
    {
        logger_close();
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.file("olva-log")))
            all += readFile(entry.path().string());
        return all;
    }

private:
    TempDir dir_;
    bool started_ = false;
};

}  // namespace olva_test
