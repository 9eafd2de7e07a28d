#include "support/asound_tree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace olva_test {

AsoundTree::AsoundTree(FakePaths& paths)
{
    paths.setProcRoot(dir_.path());
    mkdir(dir_.file("asound").c_str(), 0755);
    writeFile(dir_.file("asound/pcm"), "");
    // The machine's own socket tables, where the web service finds the
    // account at the other end of each connection.
    if (symlink("/proc/net", dir_.file("net").c_str()) != 0)
        ADD_FAILURE() << "no link to /proc/net in " << dir_.path();
}

AsoundTree::AsoundTree(FakePaths& paths, const std::vector<std::string>& pcm_lines,
                       const std::vector<AsoundCard>& cards)
    : AsoundTree(paths)
{
    set(pcm_lines, cards);
}

void AsoundTree::set(const std::vector<std::string>& pcm_lines,
                     const std::vector<AsoundCard>& cards)
{
    std::string pcm;
    for (const std::string& line : pcm_lines)
        pcm += line + "\n";
    writeFile(dir_.file("asound/pcm"), pcm);
    for (const AsoundCard& card : cards) {
        const std::string card_dir = dir_.file("asound/card" + std::to_string(card.number));
        mkdir(card_dir.c_str(), 0755);
        for (const auto& [name, text] : {std::pair{"/usbid", card.usbid}, {"/usbbus", card.usbbus}}) {
            if (text.empty())
                std::remove((card_dir + name).c_str());
            else
                writeFile(card_dir + name, text + "\n");
        }
    }
}

std::string usbPcmLine(int card, int device)
{
    char head[16];
    std::snprintf(head, sizeof head, "%02d-%02d", card, device);
    return std::string(head) + ": USB Audio : USB Audio : playback 1 : capture 1";
}

std::string usbBusText(int bus, int address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%03d/%03d", bus, address);
    return text;
}

}  // namespace olva_test
