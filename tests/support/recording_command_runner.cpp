#include "support/recording_command_runner.h"

namespace olva_test {

RecordingCommandRunner::RecordingCommandRunner()
{
    platform::setCommandRunner(this);
}

RecordingCommandRunner::~RecordingCommandRunner()
{
    platform::setCommandRunner(nullptr);
}

platform::CommandResult RecordingCommandRunner::run(const std::string& command)
{
    std::lock_guard lock(mutex_);
    commands_.push_back(command);
    const auto found = results_.find(command);
    if (found != results_.end())
        return found->second;
    platform::CommandResult result;
    result.status = 0;
    return result;
}

void RecordingCommandRunner::setResult(const std::string& command, platform::CommandResult result)
{
    std::lock_guard lock(mutex_);
    results_[command] = std::move(result);
}

std::vector<std::string> RecordingCommandRunner::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

void RecordingCommandRunner::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
}

}  // namespace olva_test
