#include "base/platform/command_runner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_command_runner.h"

namespace {

using platform::CommandResult;
using platform::kMaxCommandLineLength;
using platform::kMaxCommandLines;

std::vector<std::string> numbers(int first, int last)
{
    std::vector<std::string> lines;
    for (int i = first; i <= last; ++i)
        lines.push_back(std::to_string(i));
    return lines;
}

TEST(ShellCommandRunner, GivesOutputLinesAndExitStatus)
{
    const struct {
        const char* command;
        int status;
        std::vector<std::string> lines;
        bool truncated;
    } cases[] = {
        {"printf 'a\\nb\\n'; exit 3", 3, {"a", "b"}, false},
        {"printf 'no newline'", 0, {"no newline"}, false},
        {"printf '\\n\\nx\\n'", 0, {"", "", "x"}, false},
        {"true", 0, {}, false},
        {"echo out; echo err >&2", 0, {"out"}, false},
        {"echo before; kill -TERM $$", 128 + 15, {"before"}, false},
        {"olva_no_such_command 2>/dev/null", 127, {}, false},
        // More lines than are kept: the rest is read, so the command still ends.
        {"seq 1 100000", 0, numbers(1, static_cast<int>(kMaxCommandLines)), true},
        {"seq 1 256", 0, numbers(1, 256), false},
        {"head -c 5000 /dev/zero | tr '\\0' x; echo; echo next", 0,
         {std::string(kMaxCommandLineLength, 'x'), "next"}, true},
        {"head -c 2048 /dev/zero | tr '\\0' y", 0, {std::string(kMaxCommandLineLength, 'y')},
         false},
    };
    for (const auto& c : cases) {
        const CommandResult result = platform::commandRunner().run(c.command);
        EXPECT_EQ(result.status, c.status) << c.command;
        EXPECT_EQ(result.lines, c.lines) << c.command;
        EXPECT_EQ(result.truncated, c.truncated) << c.command;
    }
}

TEST(ShellCommandRunner, RunsThroughTheShell)
{
    // Globbing, pipes and variables are the shell's.
    const CommandResult result =
        platform::commandRunner().run("x=olva; echo \"$x\" | tr a-z A-Z; echo /proc/self/statu*");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{"OLVA", "/proc/self/status"}));
}

TEST(RecordingCommandRunner, RecordsCommandsAndAnswersAsScripted)
{
    std::vector<std::string> seen;
    {
        olva_test::RecordingCommandRunner recorder;
        CommandResult lsof;
        lsof.status = 1;
        lsof.lines = {"COMMAND PID USER", "arecord 42 user"};
        recorder.setResult("lsof /dev/snd/pcm*", lsof);

        const CommandResult first = platform::commandRunner().run("touch /tmp/olva-never-made");
        EXPECT_EQ(first.status, 0);
        EXPECT_TRUE(first.lines.empty());
        const CommandResult second = platform::commandRunner().run("lsof /dev/snd/pcm*");
        EXPECT_EQ(second.status, 1);
        EXPECT_EQ(second.lines, lsof.lines);
        platform::commandRunner().run("lsof /dev/snd/pcm*");
        seen = recorder.commands();
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"touch /tmp/olva-never-made", "lsof /dev/snd/pcm*",
                                              "lsof /dev/snd/pcm*"}));
    // The recorder ran nothing; with it gone the shell runs again.
    EXPECT_EQ(platform::commandRunner().run("test -e /tmp/olva-never-made").status, 1);
}

}  // namespace
