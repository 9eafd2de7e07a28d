// A browser command's members as the commands read them: a member that is
// missing, or of another type, counts as 0 or as an empty text.
#pragma once

#include <cJSON.h>

#include <string>

namespace web {

inline int arg_int(const cJSON* json, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(json, name);
    return cJSON_IsNumber(item) ? item->valueint : 0;
}

// A line handle given as a JSON number, sign-extended: -1 stays "none".
inline unsigned long arg_handle(const cJSON* json)
{
    return static_cast<unsigned long>(static_cast<long>(arg_int(json, "handle")));
}

inline std::string arg_text(const cJSON* json, const char* name)
{
    const cJSON* item = cJSON_GetObjectItem(json, name);
    return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

}  // namespace web
