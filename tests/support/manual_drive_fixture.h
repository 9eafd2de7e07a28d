// The library opened over simulated boxes with its device manager driven by
// hand: the test runs each search pass itself. The events go to the
// process-wide recorder unless a fixture opens the library with a callback
// of its own.
#pragma once

#include <gtest/gtest.h>

#include "cavrel_olva.h"
#include "olva_manager/olva_manager.h"
#include "support/box_sim_fixture.h"
#include "support/event_recorder.h"

namespace olva_test {

class ManualDriveTest : public BoxSimTest {
protected:
    void SetUp() override
    {
        recorder().clear();
        ASSERT_NO_FATAL_FAILURE(openLibrary(&EventRecorder::callback));
    }
    void TearDown() override
    {
        olva_close();
        OlvaManager::use_manual_drive(false);
        BoxSimTest::TearDown();
    }

    // For a SetUp of its own: opens the library, driven by hand, with callback.
    static void openLibrary(olva_event_callback callback)
    {
        OlvaManager::use_manual_drive(true);
        ASSERT_EQ(olva_open(callback), 0);
    }

    static EventRecorder& recorder() { return EventRecorder::instance(); }
    static OlvaManager& manager() { return *g_pOlvaMgr; }
    static const OlvaManager::CUsbBoxDevice& slot1() { return g_pOlvaMgr->slot(1); }
};

}  // namespace olva_test
