#include "olva_device/sound_card.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/asound_tree.h"
#include "support/fake_paths.h"
#include "support/temp_dir.h"

namespace {

using audio::findSoundCard;
using audio::SoundCard;

using olva_test::AsoundCard;
using olva_test::usbPcmLine;

constexpr const char* kTz2401Id = olva_test::kTz2401CardId;
constexpr const char* kTz2501BId = olva_test::kTz2501BCardId;
using Card = AsoundCard;

// A fake /proc with an asound tree, installed as the /proc root.
class AsoundTree {
public:
    AsoundTree(const std::vector<std::string>& pcm_lines, const std::vector<Card>& cards)
        : tree_(paths_, pcm_lines, cards)
    {
    }

private:
    olva_test::FakePaths paths_;
    olva_test::AsoundTree tree_;
};

std::string usbLine(int card, int device)
{
    return usbPcmLine(card, device);
}

const std::string kOnboardLine =
    "00-00: ALC887-VD Analog : ALC887-VD Analog : playback 1 : capture 1";

struct Expected {
    int card;
    int device;
    bool reduce_noise_off;
};

struct Case {
    const char* name;
    std::vector<std::string> pcm_lines;
    std::vector<Card> cards;
    int model;
    int bus;
    int address;
    std::set<int> in_use;
    std::optional<Expected> expected;
};

TEST(FindSoundCard, ChoosesTheBoxsCard)
{
    const Case cases[] = {
        {"tz2401 card on a Tz2401B", {usbLine(1, 0)}, {{1, kTz2401Id, "001/005"}}, 3, 1, 5, {},
         Expected{1, 0, true}},
        {"tz2401 card on a Tz2701A", {usbLine(1, 0)}, {{1, kTz2401Id, "001/005"}}, 8, 1, 5, {},
         Expected{1, 0, true}},
        {"tz2401 card on a Tz2501B", {usbLine(1, 0)}, {{1, kTz2401Id, "001/005"}}, 10, 1, 5, {},
         std::nullopt},
        {"2501b card on a Tz2501B", {usbLine(2, 0)}, {{2, kTz2501BId, "003/012"}}, 10, 3, 12, {},
         Expected{2, 0, false}},
        {"2501b card on a Tz2401B", {usbLine(2, 0)}, {{2, kTz2501BId, "003/012"}}, 3, 3, 12, {},
         std::nullopt},
        {"no known card for a Tz2402B", {usbLine(1, 0)}, {{1, kTz2401Id, "001/005"}}, 2, 1, 5, {},
         std::nullopt},
        {"the other model's card is passed over",
         {usbLine(1, 0), usbLine(2, 0)},
         {{1, kTz2501BId, "001/004"}, {2, kTz2401Id, "001/005"}}, 3, 1, 5, {},
         Expected{2, 0, true}},
        {"a card that is not USB audio is passed over", {kOnboardLine, usbLine(1, 0)},
         {{0, "", ""}, {1, kTz2401Id, "001/005"}}, 3, 1, 5, {}, Expected{1, 0, true}},
        {"a device other than 0", {usbLine(2, 1)}, {{2, kTz2501BId, "001/009"}}, 10, 1, 9, {},
         Expected{2, 1, false}},
        {"a card without usbid is passed over", {usbLine(1, 0), usbLine(2, 0)},
         {{1, "", "001/005"}, {2, kTz2401Id, "001/005"}}, 3, 1, 5, {}, Expected{2, 0, true}},
        {"an unknown USB card is passed over", {usbLine(1, 0), usbLine(2, 0)},
         {{1, "046d:0a44", "001/002"}, {2, kTz2401Id, "001/005"}}, 3, 1, 5, {},
         Expected{2, 0, true}},
        {"two boxes of one model: the first box's card", {usbLine(1, 0), usbLine(2, 0)},
         {{1, kTz2501BId, "001/005"}, {2, kTz2501BId, "001/007"}}, 10, 1, 5, {},
         Expected{1, 0, false}},
        {"two boxes of one model: the second box's card", {usbLine(1, 0), usbLine(2, 0)},
         {{1, kTz2501BId, "001/005"}, {2, kTz2501BId, "001/007"}}, 10, 1, 7, {},
         Expected{2, 0, false}},
        {"a card on another bus", {usbLine(1, 0)}, {{1, kTz2401Id, "002/005"}}, 3, 1, 5, {},
         std::nullopt},
        {"a card at another address", {usbLine(1, 0)}, {{1, kTz2401Id, "001/006"}}, 3, 1, 5, {},
         std::nullopt},
        {"an unreadable usbbus", {usbLine(1, 0)}, {{1, kTz2401Id, "bus one"}}, 3, 1, 5, {},
         std::nullopt},
        {"without usbbus the id decides", {usbLine(1, 0)}, {{1, kTz2401Id, ""}}, 3, 1, 5, {},
         Expected{1, 0, true}},
        {"a card in use is passed over", {usbLine(1, 0), usbLine(2, 0)},
         {{1, kTz2401Id, ""}, {2, kTz2401Id, ""}}, 3, 1, 5, {1}, Expected{2, 0, true}},
        {"every card in use", {usbLine(1, 0), usbLine(2, 0)},
         {{1, kTz2401Id, ""}, {2, kTz2401Id, ""}}, 3, 1, 5, {1, 2}, std::nullopt},
        {"the box's own card in use", {usbLine(1, 0)}, {{1, kTz2401Id, "001/005"}}, 3, 1, 5,
         {1}, std::nullopt},
        // Card 2 would match: only a card number read whole may name it.
        {"lines that name no card are passed over",
         {"", "x", "USB Audio without a colon", "2: USB Audio", "a2-00: USB Audio",
          "2x-00: USB Audio", "02-0b: USB Audio", "-2-00: USB Audio", " 02-00: USB Audio",
          usbLine(1, 0)},
         {{1, kTz2401Id, "001/005"}, {2, kTz2401Id, "001/005"}}, 3, 1, 5, {},
         Expected{1, 0, true}},
        {"no USB audio at all", {kOnboardLine}, {{0, "", ""}}, 3, 1, 5, {}, std::nullopt},
        {"an empty list", {}, {}, 3, 1, 5, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AsoundTree tree(c.pcm_lines, c.cards);
        const std::optional<SoundCard> found =
            findSoundCard(c.model, c.bus, c.address, c.in_use, "olva.1");
        ASSERT_EQ(found.has_value(), c.expected.has_value());
        if (!found)
            continue;
        EXPECT_EQ(found->card, c.expected->card);
        EXPECT_EQ(found->device, c.expected->device);
        const std::string card_device =
            std::to_string(c.expected->card) + "," + std::to_string(c.expected->device);
        EXPECT_EQ(found->capture_name, "hw:" + card_device);
        EXPECT_EQ(found->playback_name, "plughw:" + card_device);
        EXPECT_EQ(found->reduce_noise_off, c.expected->reduce_noise_off);
    }
}

TEST(FindSoundCard, NoListOfPcmsGivesNothing)
{
    olva_test::TempDir dir;
    olva_test::FakePaths paths;
    paths.setProcRoot(dir.path());
    EXPECT_FALSE(findSoundCard(3, 1, 5, {}, "olva.1").has_value());
}

TEST(FindSoundCard, ALineTooLongForTheBufferIsNoCard)
{
    // The tail of an over-long line reads as a line of its own; it must not
    // be taken for a card.
    const std::string long_line = std::string(600, ' ') + "02-00: USB Audio";
    AsoundTree tree({long_line, usbLine(1, 0)},
                    {{1, kTz2401Id, "001/005"}, {2, kTz2401Id, "001/005"}});
    const std::optional<SoundCard> found = findSoundCard(3, 1, 5, {}, "olva.1");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->card, 1);
}

}  // namespace
