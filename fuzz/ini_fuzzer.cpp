// INI files from outside: the input is "section<TAB>key<TAB>value<LF>" and
// then the file's text. The file is read for a few keys, then the entry is
// written through the writer and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <unistd.h>

#include "base/base_ini.h"

namespace {

std::string file_path()
{
    static const std::string path = [] {
        std::string dir = std::filesystem::temp_directory_path() / "olva-fuzz-ini-XXXXXX";
        if (!mkdtemp(dir.data()))
            std::abort();
        return dir + "/config.ini";
    }();
    return path;
}

std::string_view field(std::string_view& text, char end)
{
    const std::size_t at = text.find(end);
    const std::string_view head = text.substr(0, at);
    text.remove_prefix(at == std::string_view::npos ? text.size() : at + 1);
    return head;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string section(field(text, '\t'));
    const std::string key(field(text, '\t'));
    const std::string value(field(text, '\n'));
    const std::string path = file_path();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

    char read_back[INI_VALUE_SIZE];
    readStringValue(section.c_str(), key.c_str(), read_back, path.c_str());
    readIntValue(section.c_str(), key.c_str(), path.c_str());
    readStringValue("CONFIG", "HttpPort", read_back, path.c_str());
    char small[4];
    IniReadValue(("[" + section + "]").c_str(), key.c_str(), small, path.c_str(), sizeof small);
    writeStringVlaue(section.c_str(), key.c_str(), value.c_str(), path.c_str());
    writeIntValue(section.c_str(), key.c_str(), static_cast<int>(size) - 1000, path.c_str());
    readStringValue(section.c_str(), key.c_str(), read_back, path.c_str());
    return 0;
}
