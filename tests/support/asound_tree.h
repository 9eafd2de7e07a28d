// A /proc of the test's own holding an asound tree, installed as the /proc
// root of the given paths: "asound/pcm" with the listed lines and one
// "asound/cardN" directory per card with its "usbid" and "usbbus".
#pragma once

#include <string>
#include <vector>

#include "support/fake_paths.h"
#include "support/temp_dir.h"

namespace olva_test {

// An empty text leaves its file out.
struct AsoundCard {
    int number;
    std::string usbid;
    std::string usbbus;
};

constexpr const char* kTz2401CardId = "04d9:2832";
constexpr const char* kTz2501BCardId = "0c76:362f";

class AsoundTree {
public:
    explicit AsoundTree(FakePaths& paths);
    AsoundTree(FakePaths& paths, const std::vector<std::string>& pcm_lines,
               const std::vector<AsoundCard>& cards);

    // Rewrites "asound/pcm" with the lines and writes the cards' files.
    void set(const std::vector<std::string>& pcm_lines, const std::vector<AsoundCard>& cards);

private:
    TempDir dir_;
};

// A line of "asound/pcm" for a USB sound card's device.
std::string usbPcmLine(int card, int device);
// The "usbbus" text of a USB location, "001/005".
std::string usbBusText(int bus, int address);

}  // namespace olva_test
