#include <gtest/gtest.h>

#include "sim/ylr/ylr_model.h"

namespace nclaser {
namespace {

using sim::TYLRModel;

TEST(YlrModel, AnswersInTheLaserReplyForm) {
  TYLRModel M;
  EXPECT_EQ(M.Feed("STA\r"), "STA: 4096\r"); // modulation enabled
  EXPECT_EQ(M.Feed("EMON\rSTA\r"), "EMON\rSTA: 4100\r");
  EXPECT_TRUE(M.Emission());
  EXPECT_EQ(M.Feed("SD"), ""); // a command in pieces
  EXPECT_EQ(M.Feed("C 45\r"), "SDC: 45\r");
  EXPECT_EQ(M.DiodeCurrent(), 45.0);
  EXPECT_EQ(M.Feed("SDC 101\r"), "ERR: Out of Range\r");
  EXPECT_EQ(M.Feed("RSN\rBOGUS\r"), "RSN: PL1234567\rERR: Unknown Command\r");
  EXPECT_EQ(M.Commands(),
            (std::vector<std::string>{"STA", "EMON", "STA", "SDC 45", "SDC 101", "RSN", "BOGUS"}));
}

TEST(YlrModel, KeepsModesAndFaultsInTheStatusWord) {
  TYLRModel M;
  M.Feed("DMOD\rEGM\rABN\rEPM\r");
  EXPECT_EQ(M.Status(), TYLRModel::BitGateMode | TYLRModel::BitAiming);
  EXPECT_TRUE(M.PulseMode());
  M.SetFaultBits(TYLRModel::BitOverheat, true);
  EXPECT_EQ(M.Feed("EMON\r"), "ERR: Emission blocked by an alarm\r");
  EXPECT_FALSE(M.Emission());
  M.Feed("RERR\r");
  EXPECT_EQ(M.Status() & TYLRModel::BitOverheat, 0U);
  M.SetErrorReply("ABF", "Busy");
  EXPECT_EQ(M.Feed("ABF\r"), "ERR: Busy\r");
  EXPECT_TRUE(M.Aiming());
  M.SetSilent(true);
  EXPECT_EQ(M.Feed("STA\r"), "");
  EXPECT_EQ(M.Commands().back(), "STA"); // still recorded
}

} // namespace
} // namespace nclaser
