// "config.ini" section "CONFIG" in the settings directory. A key found
// missing, or holding -1, is written back with its default.
#include "ukit/olva_mgr.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "base/base_ini.h"
#include "base/logger.h"

namespace {

constexpr const char* kSection = "CONFIG";
constexpr const char* kUrlPlaceholder = "http://127.0.0.1/upload";
constexpr std::size_t kMaxConfigText = 255;

int read_int_key(const char* key, int fallback, const std::string& path)
{
    int value = readIntValue(kSection, key, path.c_str());
    if (value == -1) {
        value = fallback;
        writeIntValue(kSection, key, fallback, path.c_str());
    }
    return value;
}

// The key's text, or fallback (then written to the file) when it is missing.
// present tells which.
std::string read_text_key(const char* key, const char* fallback, const std::string& path,
                          bool* present = nullptr)
{
    char value[INI_VALUE_SIZE] = {};
    const bool found = readStringValue(kSection, key, value, path.c_str()) != -1;
    if (present)
        *present = found;
    if (!found) {
        writeStringVlaue(kSection, key, fallback, path.c_str());
        return fallback;
    }
    return std::string(value).substr(0, kMaxConfigText);
}

constexpr const char* kSettingsFiles[] = {"config.ini", "olva.ini"};

}  // namespace

void COlvaMgr::seed_settings() const
{
    if (settings_dir_ == app_dir_)
        return;
    logger(-1, "userver", "", " settings path:%s", settings_dir_.c_str());
    for (const char* name : kSettingsFiles) {
        const std::filesystem::path installed = app_dir_ + name;
        const std::filesystem::path kept = settings_dir_ + name;
        std::error_code ec;
        if (std::filesystem::exists(kept, ec) || !std::filesystem::is_regular_file(installed, ec))
            continue;
        if (std::filesystem::copy_file(installed, kept, ec))
            logger(-1, "userver", "", " %s seeded from %s", kept.c_str(), installed.c_str());
        else
            logger(1, "userver", "", " seed %s from %s failed: %s", kept.c_str(), installed.c_str(),
                   ec.message().c_str());
    }
}

int COlvaMgr::read_config_int(const char* key, int fallback) const
{
    return read_int_key(key, fallback, config_path());
}

int COlvaMgr::write_config_int(const char* key, int value) const
{
    return writeIntValue(kSection, key, value, config_path().c_str());
}

void COlvaMgr::read_config()
{
    const std::string path = config_path();
    HttpPort = read_int_key("HttpPort", 8054, path);
    enable_ring_buzzer = read_int_key("enable_ring_buzzer", 0, path);
    keep_only_conncet = read_int_key("keep_only_conncet", 1, path);
    Autorun = read_int_key("Autorun", 1, path);
    pop_state_tip = read_int_key("pop_state_tip", 1, path);
    ssl = read_int_key("ssl", 0, path);
    logger(-1, "userver", "", " ssl enable:%d", ssl);
    enable_open_url = read_int_key("enable_open_url", 0, path);

    bool url_present = false;
    url = read_text_key("url", kUrlPlaceholder, path, &url_present);
    if (!url_present)
        url.clear();
    logger(-1, "userver", "", "enable open url:%d, url:%s", enable_open_url, url.c_str());

    const std::string allowed_origins = read_text_key("allowed_origins", "", path);
    origins_ = web::OriginPolicy(allowed_origins);
    logger(-1, "userver", "", " allowed origins:%s", allowed_origins.c_str());

    ssl_cert_filename = read_text_key("ssl_cert_filename", "server.pem", path);
    ssl_key_filename = read_text_key("ssl_key_filename", "server.key", path);
    logger(-1, "userver", "", " ssl cert filename:%s, key filename:%s", ssl_cert_filename.c_str(),
           ssl_key_filename.c_str());
}

void COlvaMgr::count_run()
{
    const std::string path = config_path();
    const int stored = readIntValue(kSection, "system_run_count", path.c_str());
    // The count stops at the largest int rather than wrapping round to a
    // negative one.
    const int next = stored == std::numeric_limits<int>::max() ? stored : stored + 1;
    system_run_count_ = stored == -1 ? 0 : next;
    writeIntValue(kSection, "system_run_count", stored == -1 ? 1 : next, path.c_str());
}
