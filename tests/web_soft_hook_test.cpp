// The soft hook as a browser uses it: "SoftHookoff" and "SoftHookon" sent to
// a simulated Tz2501B through the whole service, the box's hook relay they
// switch, and the hook events that come back as the browser's texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/eventually.h"
#include "support/whole_service_fixture.h"

namespace olva_test {
namespace {

// Tz2501B status byte 1: bit 5 and bit 7 the line's state (idle when 0b10),
// bit 6 set while the extension phone is on-hook.
constexpr std::uint8_t kIdleExtensionOnHook = 0xC0;
constexpr std::uint8_t kIdleExtensionOffHook = 0x80;
// The second latch's output that closes the hook relay.
constexpr int kHookRelay = 4;
// The first latch's output 4: the extension circuit's talk path, the last
// switch that linking the extension sets.
constexpr int kExtensionTalkPath = 4;

constexpr const char* kHookOff = "{\"event\":\"hookoff\",\"handle\":257,\"type\":0}";

TEST_F(WholeServiceTest, ABrowserTakesATz2501bOffHookAndPutsItBack)
{
    auto client = connect();
    ASSERT_TRUE(client);
    SimRegisterBox& box = plug_tz2501b(1);
    box.setStatus(kIdleExtensionOnHook);
    // Line 1 is announced, on-hook, as a Tz2401B's is.
    EXPECT_EQ(client->read(), kPlugIn);
    EXPECT_EQ(client->read(), kHookOn);

    // Accepted commands get no reply: the hook event is the next text.
    ASSERT_TRUE(client->send("{\"event\":\"SoftHookoff\",\"handle\":257}"));
    ASSERT_TRUE(eventually([&] { return box.latch2(kHookRelay) == 1; }));
    // The box reports its extension circuit off-hook while the relay holds.
    box.setStatus(kIdleExtensionOffHook);
    EXPECT_EQ(client->read(), kHookOff);
    // The extension off-hook links the extension circuit: the relay stays
    // closed and the circuit's talk path closes.
    EXPECT_TRUE(eventually([&] { return box.latch1(kExtensionTalkPath) == 1; }));
    EXPECT_EQ(box.latch2(kHookRelay), 1);

    ASSERT_TRUE(client->send("{\"event\":\"SoftHookon\",\"handle\":257}"));
    ASSERT_TRUE(eventually([&] { return box.latch2(kHookRelay) == 0; }));
    box.setStatus(kIdleExtensionOnHook);
    EXPECT_EQ(client->read(), kHookOn);
    // Back on-hook, the extension circuit is parted again.
    EXPECT_TRUE(eventually([&] { return box.latch1(kExtensionTalkPath) == 0; }));
    EXPECT_EQ(box.latch2(kHookRelay), 0);

    // Nothing more: "getinfo" is answered next.
    EXPECT_EQ(ask(*client, "{\"event\":\"getinfo\"}").rfind("{\"event\":\"getinfo\"", 0), 0u);
    const std::string log = log_text();
    const auto off = log.find("SoftHookoff, handle:257,, result=0");
    const auto on = log.find("SoftHookon, handle:257,, result=0");
    ASSERT_NE(off, std::string::npos) << log;
    ASSERT_NE(on, std::string::npos) << log;
    EXPECT_LT(off, on);
}

}  // namespace
}  // namespace olva_test
