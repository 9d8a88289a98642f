#include <gtest/gtest.h>

#include "sim/ylr/ylr_model.h"

namespace nclaser {
namespace {

using sim::TYLRModel;

// The model fed as the endpoint feeds it, without a link.
struct TFed : TYLRModel {
  sim::TBytes Pending;
  std::vector<std::string> Commands;
  std::string Feed(const std::string& In) {
    std::string Out;
    std::size_t Junk = 0;
    sim::SplitRequests(*this, Pending, sim::ToBytes(In), Junk, [&](const sim::TBytes& R) {
      Commands.push_back(Describe(R));
      Out += sim::ToText(Handle(R, 0.0));
    });
    return Out;
  }
};

TEST(YlrModel, AnswersInTheLaserReplyForm) {
  TFed M;
  EXPECT_EQ(M.Feed("STA\r"), "STA: 4096\r"); // modulation enabled
  EXPECT_EQ(M.Feed("EMON\rSTA\r"), "EMON\rSTA: 4100\r");
  EXPECT_TRUE(M.Emission());
  EXPECT_EQ(M.Feed("SD"), ""); // a command in pieces
  EXPECT_EQ(M.Feed("C 45\r"), "SDC: 45\r");
  EXPECT_EQ(M.DiodeCurrent(), 45.0);
  EXPECT_EQ(M.Feed("SDC 101\r"), "ERR: Out of Range\r");
  EXPECT_EQ(M.Feed("RSN\rBOGUS\r"), "RSN: PL1234567\rERR: Unknown Command\r");
  EXPECT_EQ(M.Commands,
            (std::vector<std::string>{"STA", "EMON", "STA", "SDC 45", "SDC 101", "RSN", "BOGUS"}));
}

TEST(YlrModel, KeepsModesAndFaultsInTheStatusWord) {
  TFed M;
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
}

} // namespace
} // namespace nclaser
