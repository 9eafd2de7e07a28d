// A virtual X display with a system tray host (trayer) on it, and the X
// tools a test drives a desktop program with: xdotool to find windows,
// move the pointer and type, xwininfo for geometry, ImageMagick's import
// for screenshots.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace olva_test {

struct WindowInfo {
    int x = 0;  // upper-left corner on the screen
    int y = 0;
    int width = 0;
    int height = 0;
    bool viewable = false;
};

// A screenshot read back as 8-bit RGB pixels.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // row by row, three bytes a pixel

    // Pixels inside the rectangle whose colour lies within tolerance of
    // rgb_colour (0xRRGGBB) on every channel.
    int count_near(int x, int y, int w, int h, std::uint32_t rgb_colour, int tolerance) const;
};

class XSession {
public:
    XSession() = default;
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The programs it needs that the machine lacks, separated by blanks;
    // empty when everything is there.
    static std::string missing_programs();

    // Starts the display and the tray host; their output goes to files in
    // log_dir. Waits until the tray's panel window is there.
    bool start(const std::string& log_dir, std::string* error);
    const std::string& display() const { return display_; }
    // "DISPLAY=<display>" for a program started on it.
    std::string display_env() const { return "DISPLAY=" + display_; }

    // Runs a shell command on the display; its output lines.
    std::vector<std::string> run(const std::string& command) const;
    // The windows that "xdotool search <args>" finds.
    std::vector<unsigned long> search(const std::string& args) const;
    std::optional<WindowInfo> info(unsigned long window) const;
    // The window's title (_NET_WM_NAME, UTF-8); GTK sets no WM_NAME for a
    // title outside Latin-1, so xdotool's name search misses those.
    std::string title(unsigned long window) const;
    // The viewable windows of process pid whose title is exactly title.
    std::vector<unsigned long> windows_titled(pid_t pid, const std::string& title) const;
    // The window of process pid embedded in the tray, once it is viewable.
    std::optional<unsigned long> tray_icon_of(pid_t pid) const;
    // Gives window the keyboard focus and types keys ("alt+n", "Return").
    void focus_and_type(unsigned long window, const std::string& keys) const;
    // Types keys to whatever holds the keyboard (a popup menu grabs it).
    void type(const std::string& keys) const;
    void click(int x, int y, int button) const;
    // Writes the whole screen to file, in format ("png", "ppm"; empty: by
    // the file's extension).
    bool screenshot(const std::string& file, const std::string& format = "") const;
    std::optional<Picture> capture() const;

private:
    std::string log_dir_;
    std::string display_;
    unsigned long panel_ = 0;
    std::unique_ptr<ChildProcess> xvfb_;
    std::unique_ptr<ChildProcess> trayer_;
};

}  // namespace olva_test
