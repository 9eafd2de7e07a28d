#include "olva_device/sound_card.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/logger.h"
#include "base/platform/paths.h"

namespace audio {
namespace {

struct CardModel {
    const char* usb_id;
    int models[2];  // 0: none
    bool reduce_noise_off;
    const char* name;  // in the log line of a found card
};

constexpr CardModel kCardModels[] = {
    {"04d9:2832", {3, 8}, true, "tz2401"},
    {"0c76:362f", {10, 0}, false, "2501b"},
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A decimal number made of digits only, the whole text; -1 otherwise.
int parseNumber(std::string_view text)
{
    int value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0)
        return -1;
    return value;
}

// The first line of a small file, without its '\n'.
std::optional<std::string> readFirstLine(const std::string& path)
{
    File file(std::fopen(path.c_str(), "re"));
    if (!file)
        return std::nullopt;
    char line[128] = {};
    if (!std::fgets(line, sizeof line, file.get()))
        return std::string();
    line[std::strcspn(line, "\n")] = '\0';
    return std::string(line);
}

const CardModel* cardModelOf(const std::string& usb_id)
{
    for (const CardModel& row : kCardModels)
        if (usb_id.find(row.usb_id) != std::string::npos)
            return &row;
    return nullptr;
}

bool servesModel(const CardModel& row, int model)
{
    for (int served : row.models)
        if (served != 0 && served == model)
            return true;
    return false;
}

// "003/012": USB bus 3, device address 12.
bool atUsbLocation(const std::string& usbbus, int bus, int address)
{
    const std::size_t slash = usbbus.find('/');
    if (slash == std::string::npos)
        return false;
    const std::string_view text(usbbus);
    return parseNumber(text.substr(0, slash)) == bus &&
           parseNumber(text.substr(slash + 1)) == address;
}

}  // namespace

// A line of asound/pcm names a card's device:
//   "01-00: USB Audio : USB Audio : playback 1 : capture 1\n"
std::optional<SoundCard> findSoundCard(int model, int usb_bus, int usb_address,
                                       const std::set<int>& cards_in_use, const char* log_tag)
{
    const std::string asound = platform::paths().procRoot() + "/asound";
    File pcm(std::fopen((asound + "/pcm").c_str(), "re"));
    if (!pcm) {
        logger(1, "olva ", log_tag, "%s   open /proc/asound/pcm  failed", log_tag);
        return std::nullopt;
    }
    char line[510];
    while (std::fgets(line, sizeof line, pcm.get())) {
        if (std::strlen(line) <= 2)
            continue;
        line[std::strcspn(line, "\n")] = '\0';
        logger(4, "olva ", log_tag, "%s  %s ", log_tag, line);
        if (!std::strstr(line, "USB Audio")) {
            logger(4, "olva ", log_tag, "%s   %s  is not usb audio ", log_tag, line);
            continue;
        }
        const std::string_view text(line);
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view head = text.substr(0, colon);
        const std::size_t dash = head.find('-');
        if (dash == std::string_view::npos)
            continue;
        const int card = parseNumber(head.substr(0, dash));
        const int device = parseNumber(head.substr(dash + 1));
        if (card < 0 || device < 0) {
            logger(2, "olva ", log_tag, "%s  bad card number in (%s) ", log_tag, line);
            continue;
        }
        const std::string head_text(head);
        logger(4, "olva ", log_tag, "%s  find usb audio(%s) , main dev id:%d , sub dev id:%d ",
               log_tag, head_text.c_str(), card, device);
        if (cards_in_use.count(card)) {
            logger(4, "olva ", log_tag, "%s  card %d is in use by the other box ", log_tag, card);
            continue;
        }

        const std::string card_dir = asound + "/card" + std::to_string(card);
        const std::string usbid_path = card_dir + "/usbid";
        const std::optional<std::string> usb_id = readFirstLine(usbid_path);
        if (!usb_id) {
            logger(2, "olva ", log_tag, "%s  open %s  failed", log_tag, usbid_path.c_str());
            continue;
        }
        const CardModel* row = cardModelOf(*usb_id);
        if (!row)
            continue;
        if (!servesModel(*row, model)) {
            logger(4, "olva ", log_tag, "%s  card %d (%s) belongs to another model ", log_tag,
                   card, usb_id->c_str());
            continue;
        }
        // Two boxes of one model carry the same USB id; the bus and address
        // tell their cards apart.
        const std::optional<std::string> usbbus = readFirstLine(card_dir + "/usbbus");
        if (!usbbus) {
            logger(2, "olva ", log_tag, "%s  card %d has no usbbus, taken on its usb id ",
                   log_tag, card);
        } else if (!atUsbLocation(*usbbus, usb_bus, usb_address)) {
            logger(4, "olva ", log_tag, "%s  card %d is at usb %s, not %03d/%03d ", log_tag, card,
                   usbbus->c_str(), usb_bus, usb_address);
            continue;
        }

        SoundCard found;
        found.card = card;
        found.device = device;
        found.capture_name = "hw:" + std::to_string(card) + "," + std::to_string(device);
        found.playback_name = "plughw:" + std::to_string(card) + "," + std::to_string(device);
        found.reduce_noise_off = row->reduce_noise_off;
        logger(4, "olva ", log_tag, "%s  find  %s usb audio  ", log_tag, row->name);
        return found;
    }
    return std::nullopt;
}

}  // namespace audio
