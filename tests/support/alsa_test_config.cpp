#include "support/alsa_test_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/temp_dir.h"

namespace olva_test {
namespace {

// A PCM definition whose card and device arguments name its files.
std::string filePcm(const std::string& name, const std::string& body)
{
    return "pcm." + name + " {\n"
           "    @args [ CARD DEV ]\n"
           "    @args.CARD { type string }\n"
           "    @args.DEV { type string default \"0\" }\n"
           "    type file\n"
           "    slave.pcm \"null\"\n"
           "    format \"raw\"\n" +
           body + "}\n";
}

std::string argumentPath(const std::string& dir, const std::string& prefix)
{
    return "{ @func concat strings [ \"" + dir + "/" + prefix +
           "-\" $CARD \"-\" $DEV \".raw\" ] }";
}

}  // namespace

AlsaTestConfig::AlsaTestConfig(const std::string& dir) : dir_(dir)
{
    const std::string config =
        "pcm.null { type null }\n" +
        filePcm("hw", "    file \"/dev/null\"\n    infile " + argumentPath(dir, "capture") + "\n") +
        filePcm("plughw", "    file " + argumentPath(dir, "playback") + "\n");
    writeFile(dir + "/asound.conf", config);
    if (const char* previous = std::getenv("ALSA_CONFIG_PATH")) {
        had_previous_ = true;
        previous_ = previous;
    }
    setenv("ALSA_CONFIG_PATH", (dir + "/asound.conf").c_str(), 1);
}

AlsaTestConfig::~AlsaTestConfig()
{
    if (had_previous_)
        setenv("ALSA_CONFIG_PATH", previous_.c_str(), 1);
    else
        unsetenv("ALSA_CONFIG_PATH");
}

std::string AlsaTestConfig::captureFile(int card, int device) const
{
    return dir_ + "/capture-" + std::to_string(card) + "-" + std::to_string(device) + ".raw";
}

std::string AlsaTestConfig::playbackFile(int card, int device) const
{
    return dir_ + "/playback-" + std::to_string(card) + "-" + std::to_string(device) + ".raw";
}

CaptureFifo::CaptureFifo(const std::string& path)
{
    if (mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("mkfifo " + path + ": " + std::strerror(errno));
    // Open for reading too, so that the open does not wait for a reader and
    // the reader's open does not wait for us.
    fd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
}

CaptureFifo::~CaptureFifo()
{
    close();
}

bool CaptureFifo::write(const std::vector<std::int16_t>& samples)
{
    const std::string bytes = sampleBytes(samples);
    std::size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

void CaptureFifo::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::string sampleBytes(const std::vector<std::int16_t>& samples)
{
    return std::string(reinterpret_cast<const char*>(samples.data()),
                       samples.size() * sizeof(std::int16_t));
}

}  // namespace olva_test
