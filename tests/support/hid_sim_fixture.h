// The fixture of the transport tests: simulated boxes behind the USB seam,
// a clock that only pauses move and pauses that cost no time.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/sim_backend.h"
#include "support/fake_clock.h"
#include "support/recording_sleeper.h"

namespace olva_test {

class HidSimTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_THAT(sim_.violations(), ::testing::IsEmpty()); }

    FakeClock clock_;
    RecordingSleeper sleeper_{&clock_};
    olva_sim::SimBackend sim_;
};

using Bytes = std::vector<std::uint8_t>;

}  // namespace olva_test
