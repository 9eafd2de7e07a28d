// A command runner that runs nothing: it records every command and answers
// with the result scripted for its text (status 0 and no output otherwise).
// Installed for the lifetime of the object.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/platform/command_runner.h"

namespace olva_test {

class RecordingCommandRunner final : public platform::CommandRunner {
public:
    RecordingCommandRunner();
    ~RecordingCommandRunner() override;
    RecordingCommandRunner(const RecordingCommandRunner&) = delete;
    RecordingCommandRunner& operator=(const RecordingCommandRunner&) = delete;

    platform::CommandResult run(const std::string& command) override;

    void setResult(const std::string& command, platform::CommandResult result);
    // Every command run, in order.
    std::vector<std::string> commands() const;
    // Forgets the commands run so far.
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> commands_;                       // guarded by mutex_
    std::map<std::string, platform::CommandResult> results_;  // guarded by mutex_
};

}  // namespace olva_test
