// Replays inputs through a fuzz target without libFuzzer: every file of each
// directory named on the command line (or each file named), in name order,
// once. The normal build links each target with this main and runs it over
// the target's seed corpus and kept crashes as a test case, so that a parser
// change that crashes on a known input fails the suite.
//   fuzz_replay_NAME DIR_OR_FILE...
// Exits 0 when every input was taken; a crash or a sanitizer's report ends
// the program on the input it names last. A directory without inputs is an
// error too: a replay that fed nothing would pass for one that found nothing.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Not every target has one.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

// The files an argument names; false, with a message, when it names none.
bool collect_inputs(const fs::path& path, std::vector<fs::path>* inputs)
{
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        inputs->push_back(path);
        return true;
    }
    if (!fs::is_directory(path, ec)) {
        std::fprintf(stderr, "replay: %s is neither a file nor a directory\n", path.c_str());
        return false;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) {
        if (entry.is_regular_file(ec))
            files.push_back(entry.path());
    }
    if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    if (files.empty()) {
        std::fprintf(stderr, "replay: no inputs in %s\n", path.c_str());
        return false;
    }
    std::sort(files.begin(), files.end());
    inputs->insert(inputs->end(), files.begin(), files.end());
    return true;
}

bool read_input(const fs::path& path, std::vector<char>* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot open %s\n", path.c_str());
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A directory of this run's own for the files a target makes (they name
// theirs under TMPDIR), removed when the replay ends.
class RunTempDir {
public:
    RunTempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "olva-fuzz-replay-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
        else
            std::fprintf(stderr, "replay: mkdtemp: %s\n", std::strerror(errno));
    }
    ~RunTempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }
    RunTempDir(const RunTempDir&) = delete;
    RunTempDir& operator=(const RunTempDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collect_inputs(argv[i], &inputs))
            return 1;
    }
    const RunTempDir temp;
    if (temp.path().empty() || setenv("TMPDIR", temp.path().c_str(), 1) != 0)
        return 1;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    for (const fs::path& input : inputs) {
        std::vector<char> bytes;
        if (!read_input(input, &bytes))
            return 1;
        std::printf("replay: %s (%zu bytes)\n", input.c_str(), bytes.size());
        std::fflush(stdout);
        // A buffer of exactly the input's size, as libFuzzer hands it, so
        // that the address sanitizer sees a read past its end.
        const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
        std::memcpy(data.get(), bytes.data(), bytes.size());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::printf("replay: %zu inputs taken\n", inputs.size());
    return 0;
}
