// Turns the GSM module's bytes, as they come in the box's reports (1 to 6 at
// a time), into its lines. On the wire:
//
//   <CR><LF>+CSQ: 23,0<CR><LF><CR><LF>OK<CR><LF>
//   <CR><LF>> 
//
// gives the lines "+CSQ: 23,0" and "OK"; the SMS prompt "> " ends no line,
// so the whole chunk that carried the '>' is handed on at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gsm {

class LineAssembler {
public:
    // Longest line kept; a longer one is dropped whole.
    static constexpr std::size_t kMaxLine = 3000;

    struct Item {
        enum class Kind { kLine, kPrompt, kDroppedLongLine };
        Kind kind;
        std::string text;  // the line, or the chunk with the prompt
        bool operator==(const Item&) const = default;
    };

    // Feeds the bytes of one report; returns what they completed, in order.
    std::vector<Item> feed(const std::uint8_t* bytes, std::size_t count);
    // Feeds a text whole, as one report would carry it.
    std::vector<Item> feed(const std::string& chunk);

    std::size_t pending_length() const { return line_.size(); }

private:
    std::string line_;
    bool carriage_return_ = false;
    bool overflowed_ = false;  // the line being assembled outgrew kMaxLine
};

}  // namespace gsm
