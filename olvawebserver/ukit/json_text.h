// JSON texts for browsers, built by appending pieces: no blanks, members in
// the order they are appended. Every text placed between quotes is escaped,
// so a caller number or an SMS text from outside cannot break the object.
#pragma once

#include <string>
#include <string_view>

namespace web {

// The text with each byte that begins no valid UTF-8 sequence (a stray
// continuation byte, an overlong form, an encoded surrogate, a value above
// U+10FFFF, a sequence cut short) turned into U+FFFD. A browser drops a
// WebSocket text frame that is not UTF-8, and JSON.parse of an HTTP reply
// that is not fails; stored texts and file names may hold any bytes.
std::string valid_utf8(std::string_view text);
bool is_valid_utf8(std::string_view text);

// The text as a JSON string literal, quotes included, made valid UTF-8 as
// above. Control characters, '"' and '\\' are escaped.
std::string json_quote(std::string_view text);

class JsonPieces {
public:
    JsonPieces() : text_("{") {}
    // name is one of our own member names and is written as it stands.
    JsonPieces& num(const char* name, unsigned long value);
    JsonPieces& num(const char* name, long value);
    JsonPieces& num(const char* name, int value) { return num(name, static_cast<long>(value)); }
    JsonPieces& str(const char* name, std::string_view value);
    // value is JSON text of our own (an object, an array) written unchanged.
    JsonPieces& raw(const char* name, std::string_view value);
    std::string done() const { return text_ + "}"; }

private:
    void name(const char* member);

    std::string text_;
};

// The farewell: the reason of the close frame sent to the connections that
// a newer client pushes out.
inline constexpr const char* kFarewellText = "{\"event\":\"left\"}";

// {"event":"joined","OS":"linux","path":W}
std::string greeting_text(const std::string& work_dir);
// {"event":"notify","errorType":K,"handle":N,"result":R}
std::string notify_text(const char* name, int handle, int result);
// {"event":"answer","type":K,"handle":N,"result":V}
std::string answer_text(const char* name, int handle, std::string_view value);
// {"event":"uploadfileresult","result":J}, J a JSON object written unchanged.
std::string upload_result_text(std::string_view result_json);

// A copy of path with every '\\' turned into '/', when it is longer than one
// character.
std::string windows_path_conver_linux(std::string path);

}  // namespace web
