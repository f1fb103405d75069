// The rules every line device shares, and the simulated line the engine's tests stand on.
#include <gtest/gtest.h>

#include <memory>

#include "serial/AfComDevice.h"
#include "sim/AfSimComDevice.h"

namespace {

TEST(AfModemEvents, EachChangedLineRaisesItsEventAndRingOnlyAsItComesOn) {
  EXPECT_EQ(AfModemEvents(0, MS_CTS_ON | MS_DSR_ON), EV_CTS | EV_DSR);
  EXPECT_EQ(AfModemEvents(MS_CTS_ON | MS_RLSD_ON, MS_CTS_ON), EV_RLSD);
  EXPECT_EQ(AfModemEvents(0, MS_RING_ON), EV_RING);
  EXPECT_EQ(AfModemEvents(MS_RING_ON, 0), 0u);
  EXPECT_EQ(AfModemEvents(MS_DSR_ON, MS_DSR_ON), 0u);
}

TEST(AfSimLine, ControlLineFunctionsSetAndClearTheirLineAndOthersAreRefused) {
  auto line = std::make_shared<TAfSimLine>();
  TAfSimComDevice device(line);
  EXPECT_TRUE(device.EscapeCommFunction(SETDTR));
  EXPECT_TRUE(device.EscapeCommFunction(SETRTS));
  EXPECT_EQ(line->ControlLines(), TAfSimLine::LineDtr | TAfSimLine::LineRts);
  EXPECT_TRUE(device.EscapeCommFunction(CLRDTR));
  EXPECT_EQ(line->ControlLines(), TAfSimLine::LineRts);
  EXPECT_FALSE(device.EscapeCommFunction(SETBREAK));
  EXPECT_EQ(line->ControlLines(), TAfSimLine::LineRts);
  EXPECT_TRUE(device.EscapeCommFunction(CLRRTS));
  EXPECT_EQ(line->ControlLines(), 0u);
}

}  // namespace
