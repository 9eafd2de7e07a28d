// The table of model traits as a whole: a second row of a model or of a
// pair of USB ids would never be read, and a row's line counts must fit.
#include "model/model_traits.h"

#include <set>
#include <utility>

#include <gtest/gtest.h>

namespace {

TEST(ModelTraitsTest, EachModelAndEachPairOfUsbIdsHasOneRow)
{
    std::set<int> models;
    std::set<std::pair<unsigned short, unsigned short>> usb_ids;
    for (const ModelTraits& row : kModelTraits) {
        SCOPED_TRACE(static_cast<int>(row.model));
        EXPECT_TRUE(models.insert(row.model).second);
        if (row.usb_vendor_id != 0) {
            EXPECT_TRUE(usb_ids.insert({row.usb_vendor_id, row.usb_product_id}).second);
        }
        EXPECT_EQ(&model_traits(row.model), &row);
    }
}

TEST(ModelTraitsTest, StepsAndDetectionStayWithinTheLinesOpened)
{
    for (const ModelTraits& row : kModelTraits) {
        SCOPED_TRACE(static_cast<int>(row.model));
        EXPECT_LE(row.timed_lines, row.lines);
        EXPECT_LE(row.detected_lines, row.lines);
        EXPECT_LE(row.extension_on_line2 ? 2 : 0, row.lines);
        EXPECT_LE(row.eeprom_window_size, 255u);
    }
}

// The names the library reports, by model; every other id, the Tz2501B's
// among them, has none and is reported as "unknown device".
TEST(ModelTraitsTest, NamesAreTheProductNamesOfTheirModels)
{
    const std::pair<int, const char*> named[] = {
        {1, "Tz2502A"}, {2, "Tz2402B"}, {3, "Tz2401B"}, {4, "TZ2501A"}, {8, "TZ2701A"}};
    for (int id = -3; id <= 255; ++id) {
        SCOPED_TRACE(id);
        const char* expected = nullptr;
        for (const auto& [model, name] : named)
            expected = model == id ? name : expected;
        const char* name = model_traits(id).name;
        if (expected)
            EXPECT_STREQ(name, expected);
        else
            EXPECT_EQ(name, nullptr) << name;
    }
}

// Ids of no row, the results of a bad handle among them, get model 0's.
TEST(ModelTraitsTest, AnUnknownIdHasNothing)
{
    for (const int id : {-3, -2, 5, 7, 9, 12, 255}) {
        SCOPED_TRACE(id);
        const ModelTraits& row = model_traits(id);
        EXPECT_EQ(row.model, OLVA_PRODUCT_NONE);
        EXPECT_EQ(row.name, nullptr);
        EXPECT_EQ(row.lines, 0);
        EXPECT_FALSE(row.gsm || row.extension_phone || row.buzzer || row.message_param);
        EXPECT_EQ(row.switches, Switches::kNone);
        EXPECT_EQ(row.soft_hook, SoftHook::kNone);
    }
}

}  // namespace
