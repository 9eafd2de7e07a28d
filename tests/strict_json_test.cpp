// The strict check and the second printing of outside JSON: what RFC 8259
// refuses is refused even where cJSON would take it, and what passes comes
// out printed again, compact, UTF-8 and strict itself.
#include <gtest/gtest.h>

#include <cJSON.h>

#include <optional>
#include <string>

#include "ukit/strict_json.h"

namespace olva_test {
namespace {

bool cjson_takes(const std::string& text)
{
    cJSON* json = cJSON_ParseWithLength(text.data(), text.size());
    cJSON_Delete(json);
    return json != nullptr;
}

std::string nested(int depth)
{
    return std::string(static_cast<std::size_t>(depth), '[') + std::string(static_cast<std::size_t>(depth), ']');
}

TEST(StrictJson, RefusesWhatCjsonTakesLeniently)
{
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"a leading zero", R"({"code":01})"},
        {"a point without digits", R"({"code":1.})"},
        {"a fraction without its zero", R"({"code":-.5})"},
        {"an exponent with a point", R"({"code":1.e5})"},
        {"a raw tab in a string", "{\"msg\":\"a\tb\"}"},
        {"a raw line feed in a string", "{\"msg\":\"a\nb\"}"},
        {"a raw control byte in a string", "{\"msg\":\"a\x01" "b\"}"},
        {"a control byte taken as a blank", "\x01{\"code\":200}"},
        {"a form feed taken as a blank", "{\"code\":\f200}"},
        {"GBK bytes", "{\"msg\":\"\xb3\xc9\xb9\xa6\"}"},
        {"an overlong slash", "{\"msg\":\"\xc0\xaf\"}"},
        {"a surrogate in UTF-8", "{\"msg\":\"\xed\xa0\x80\"}"},
        {"a lead byte at the end", "{\"msg\":\"\xe5\xbd\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(cjson_takes(c.text)) << "a row that cJSON refuses shows nothing";
        EXPECT_FALSE(web::is_strict_json(c.text));
        EXPECT_EQ(web::reprint_strict_json(c.text), std::nullopt);
    }
}

TEST(StrictJson, RefusesWhatIsNoJsonAtAll)
{
    const std::string cases[] = {
        "",
        "   ",
        "{",
        R"({"a":1,})",
        R"([1,2,])",
        R"({"a" 1})",
        R"({a:1})",
        R"({'a':1})",
        R"({"a":1}x)",
        R"({"a":1} {"b":2})",
        "+1",
        "-",
        "1e",
        "1e+",
        "0x1F",
        "NaN",
        "Infinity",
        "tru",
        "nul",
        R"("\x41")",
        R"("\u12")",
        R"("\u0000")",
        R"("\ud800")",
        R"("\ud800x")",
        R"("\ud800\u0041")",
        R"("\udc00")",
        "\"open",
        std::string("{\"a\":1}\0", 8),
        nested(65),
    };
    for (const std::string& text : cases) {
        EXPECT_FALSE(web::is_strict_json(text)) << text;
        EXPECT_EQ(web::reprint_strict_json(text), std::nullopt) << text;
    }
}

TEST(StrictJson, PrintsWhatPassesAgainCompactly)
{
    const struct {
        std::string text;
        std::string reprinted;
    } cases[] = {
        {R"({"code":"success","id":"x1"})", R"({"code":"success","id":"x1"})"},
        {" {\r\n\t\"code\" : 200 ,\n \"msg\" : \"成功\" } \n", R"({"code":200,"msg":"成功"})"},
        {R"({"a":"\u00e9\/\"\\"})", "{\"a\":\"\xc3\xa9/\\\"\\\\\"}"},
        {R"({"smile":"\ud83d\ude00"})", "{\"smile\":\"\xf0\x9f\x98\x80\"}"},
        {R"({"c":"\u001f\t"})", R"({"c":"\u001f\t"})"},
        {R"([0,-0.5,1.5e3,2E-1,true,false,null])", R"([0,-0.5,1500,0.2,true,false,null])"},
        {R"({"nested":{"list":[{},[]]}})", R"({"nested":{"list":[{},[]]}})"},
        {"7", "7"},
        {nested(64), nested(64)},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(web::is_strict_json(c.text)) << c.text;
        const std::optional<std::string> reprinted = web::reprint_strict_json(c.text);
        ASSERT_TRUE(reprinted) << c.text;
        EXPECT_EQ(*reprinted, c.reprinted);
        EXPECT_TRUE(web::is_strict_json(*reprinted)) << *reprinted;
    }
}

// A number too large for a double is strict JSON, and what cJSON prints of
// it must be strict JSON too.
TEST(StrictJson, HugeNumberComesOutStrict)
{
    const std::optional<std::string> reprinted = web::reprint_strict_json(R"({"n":1e400})");
    ASSERT_TRUE(reprinted);
    EXPECT_TRUE(web::is_strict_json(*reprinted)) << *reprinted;
}

}  // namespace
}  // namespace olva_test
