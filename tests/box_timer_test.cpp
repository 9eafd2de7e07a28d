// The box's 100 ms timer step on the models the manager's timer drives:
// the two-line boxes step both line state machines, the Tz2501A its first
// line only. A ring held on both lines shows which lines were stepped.
#include <gtest/gtest.h>

#include <functional>

#include "sim/sim_report17_box.h"
#include "sim/sim_tz2501a.h"
#include "support/box_sim_fixture.h"
#include "support/olva_device_access.h"
#include "support/test_box.h"

namespace {

using olva_sim::SimBox;
using olva_sim::SimReport17Box;
using olva_sim::SimTz2501ABox;
using olva_test::BoxEvent;
using olva_test::OlvaDeviceAccess;
using olva_test::TestBox;

class BoxTimerTest : public olva_test::BoxSimTest {};

int rings_on(const TestBox& box, unsigned long line)
{
    int rings = 0;
    for (const BoxEvent& event : box.events())
        rings += event.line == line && event.event == OLVA_EVENT_LINE_RING ? 1 : 0;
    return rings;
}

TEST_F(BoxTimerTest, TwoLineBoxesStepBothLinesAndTheTz2501aItsFirstOnly)
{
    struct Case {
        const char* name;
        OLVA_PRODUCT product;
        std::function<SimBox&()> plug;
        bool line2_stepped;
    };
    const Case cases[] = {
        {"Tz2502A", OLVA_PRODUCT_TZ2502A, [&]() -> SimBox& { return sim_.plug<SimReport17Box>(); }, true},
        {"Tz2402B", OLVA_PRODUCT_TZ2402B, [&]() -> SimBox& { return sim_.plug<SimReport17Box>(); }, true},
        {"Tz2501A", OLVA_PRODUCT_TZ2501A, [&]() -> SimBox& { return sim_.plug<SimTz2501ABox>(); }, false},
    };
    constexpr int kSteps = 30;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimBox& sim_box = c.plug();
        TestBox box;
        ASSERT_TRUE(OlvaDeviceAccess::openAs(box, sim_.path(sim_box), c.product));
        OlvaDeviceAccess::openLines(box);
        ASSERT_EQ(box.line(2).line_id(), 2u);
        for (unsigned long line : {1ul, 2ul})
            OlvaDeviceAccess::line(box, line).save_tmp_line_state(OLVA_STATE_RINGING);
        for (int step = 0; step < kSteps; ++step) {
            clock_.advanceMs(100);
            box.handle_timer(100);
        }
        const int line1 = rings_on(box, 1);
        EXPECT_GT(line1, 0);
        EXPECT_EQ(rings_on(box, 2), c.line2_stepped ? line1 : 0);
        box.hidClose();
    }
}

}  // namespace
