#include "support/x_session.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/platform/command_runner.h"
#include "support/temp_dir.h"

namespace olva_test {
namespace {

// Xvfb writes its display number to this descriptor once it accepts clients.
constexpr int kDisplayFd = 3;

std::string hex(unsigned long window)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", window);
    return text;
}

int field(const std::string& text, const std::string& name)
{
    const std::size_t at = text.find(name);
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + name.size());
}

// A binary PPM (P6, maxval 255) as import writes it.
std::optional<Picture> read_ppm(const std::string& bytes)
{
    std::istringstream in(bytes);
    std::string magic;
    int maxval = 0;
    Picture picture;
    in >> magic >> picture.width >> picture.height >> maxval;
    if (magic != "P6" || maxval != 255 || picture.width <= 0 || picture.height <= 0)
        return std::nullopt;
    in.get();
    const std::size_t size = static_cast<std::size_t>(picture.width) * picture.height * 3;
    picture.rgb.resize(size);
    if (!in.read(reinterpret_cast<char*>(picture.rgb.data()), static_cast<std::streamsize>(size)))
        return std::nullopt;
    return picture;
}

}  // namespace

int Picture::count_near(int x0, int y0, int w, int h, std::uint32_t colour, int tolerance) const
{
    const int want[3] = {static_cast<int>(colour >> 16) & 0xff, static_cast<int>(colour >> 8) & 0xff,
                         static_cast<int>(colour) & 0xff};
    int count = 0;
    for (int y = std::max(0, y0); y < std::min(height, y0 + h); ++y) {
        for (int x = std::max(0, x0); x < std::min(width, x0 + w); ++x) {
            const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            bool near = true;
            for (int c = 0; c < 3; ++c)
                near = near && std::abs(p[c] - want[c]) <= tolerance;
            count += near;
        }
    }
    return count;
}

XSession::~XSession()
{
    // The tray host first, while its display is still there.
    trayer_.reset();
    xvfb_.reset();
}

std::string XSession::missing_programs()
{
    std::string missing;
    for (const char* program : {"Xvfb", "trayer", "xdotool", "xwininfo", "import"}) {
        if (!have_program(program))
            missing += std::string(missing.empty() ? "" : " ") + program;
    }
    return missing;
}

bool XSession::start(const std::string& log_dir, std::string* error)
{
    log_dir_ = log_dir;
    ChildOptions xvfb;
    xvfb.argv = {"Xvfb", "-displayfd", std::to_string(kDisplayFd), "-screen", "0", "640x480x24",
                 "-nolisten", "tcp", "-noreset"};
    xvfb.output_file = log_dir + "/xvfb.log";
    xvfb.pipe_fd = kDisplayFd;
    xvfb_ = ChildProcess::start(xvfb, error);
    if (!xvfb_)
        return false;
    const auto number = xvfb_->read_pipe_line(kWait);
    if (!number || number->empty()) {
        if (error)
            *error = "Xvfb gave no display: " + readFile(xvfb.output_file);
        return false;
    }
    display_ = ":" + *number;

    ChildOptions trayer;
    trayer.argv = {"trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
                   "120", "--heighttype", "pixel", "--height", "40", "--transparent", "false"};
    trayer.env = {display_env()};
    trayer.output_file = log_dir + "/trayer.log";
    trayer_ = ChildProcess::start(trayer, error);
    if (!trayer_)
        return false;
    const bool up = eventually(
        [&] {
            const auto panels = search("--name '^panel$'");
            panel_ = panels.empty() ? 0 : panels.front();
            return panel_ != 0;
        },
        kWait, kProcessLookPause);
    if (!up && error)
        *error = "trayer's panel did not appear: " + readFile(trayer.output_file);
    return up;
}

std::vector<std::string> XSession::run(const std::string& command) const
{
    return platform::commandRunner().run(display_env() + " " + command + " 2>/dev/null").lines;
}

std::vector<unsigned long> XSession::search(const std::string& args) const
{
    std::vector<unsigned long> windows;
    for (const std::string& line : run("xdotool search " + args)) {
        if (!line.empty())
            windows.push_back(std::strtoul(line.c_str(), nullptr, 10));
    }
    return windows;
}

std::optional<WindowInfo> XSession::info(unsigned long window) const
{
    std::string text;
    for (const std::string& line : run("xwininfo -id " + hex(window)))
        text += line + "\n";
    if (text.find("Width:") == std::string::npos)
        return std::nullopt;
    WindowInfo info;
    info.x = field(text, "Absolute upper-left X:");
    info.y = field(text, "Absolute upper-left Y:");
    info.width = field(text, "Width:");
    info.height = field(text, "Height:");
    info.viewable = text.find("Map State: IsViewable") != std::string::npos;
    return info;
}

std::string XSession::title(unsigned long window) const
{
    // _NET_WM_NAME = "text"
    const auto lines = run("LC_ALL=C.UTF-8 xprop -notype -id " + hex(window) + " _NET_WM_NAME");
    if (lines.empty())
        return {};
    const std::size_t open = lines.front().find('"');
    const std::size_t close = lines.front().rfind('"');
    if (open == std::string::npos || close <= open)
        return {};
    return lines.front().substr(open + 1, close - open - 1);
}

std::vector<unsigned long> XSession::windows_titled(pid_t pid, const std::string& wanted) const
{
    std::vector<unsigned long> found;
    for (unsigned long window : search("--onlyvisible --pid " + std::to_string(pid))) {
        if (title(window) == wanted)
            found.push_back(window);
    }
    return found;
}

std::optional<unsigned long> XSession::tray_icon_of(pid_t pid) const
{
    std::string tree;
    for (const std::string& line : run("xwininfo -tree -id " + hex(panel_)))
        tree += line + "\n";
    for (unsigned long window : search("--pid " + std::to_string(pid))) {
        if (tree.find(" " + hex(window) + " ") == std::string::npos)
            continue;
        const auto i = info(window);
        if (i && i->viewable && i->width > 1 && i->height > 1)
            return window;
    }
    return std::nullopt;
}

void XSession::focus_and_type(unsigned long window, const std::string& keys) const
{
    run("xdotool windowfocus --sync " + std::to_string(window));
    type(keys);
}

void XSession::type(const std::string& keys) const
{
    run("xdotool key " + keys);
}

void XSession::click(int x, int y, int button) const
{
    run("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click " +
        std::to_string(button));
}

bool XSession::screenshot(const std::string& file, const std::string& format) const
{
    run("import -window root -depth 8 '" + (format.empty() ? "" : format + ":") + file + "'");
    std::ifstream in(file, std::ios::binary);
    return in.peek() != std::ifstream::traits_type::eof();
}

std::optional<Picture> XSession::capture() const
{
    const std::string file = log_dir_ + "/screen.ppm";
    if (!screenshot(file, "ppm"))
        return std::nullopt;
    return read_ppm(readFile(file));
}

}  // namespace olva_test
