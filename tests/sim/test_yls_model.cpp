// The YLS simulator's own faults and commands; its answers are proved by the end-to-end
// suite.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "protocols/yls.h"
#include "sim/table.h"
#include "sim/yls/yls_model.h"

namespace nclaser {
namespace {

using sim::TBytes;

const yls::TCrc16 Crc;

// The answer to one request: its header and data.
struct TReply {
  yls::TCheck Check;
  yls::TAnswerHeader H;
  std::size_t DataSize;
};

TReply Ask(sim::TYLSModel& M, std::uint16_t Code, const TBytes& Data = {}) {
  const TBytes Req = yls::BuildRequest(Crc, Code, Data);
  const sim::TSplit S = M.Split(Req);
  EXPECT_EQ(S.Skip, 0U);
  EXPECT_EQ(S.Length, Req.size());
  const TBytes A = M.Handle(Req, 1000.0);
  TReply R{};
  R.Check = yls::CheckAnswer(Crc, A, R.H);
  R.DataSize = A.size() - yls::FrameOverhead;
  return R;
}

TEST(YlsModel, FaultCommandsShapeTheAnswers) {
  sim::TYLSModel M;
  const auto Cmd = [&M](std::vector<std::string> W) { return M.Command(W); };
  const auto Has = [&M](const std::string& Part) {
    return M.StateLine().find(Part) != std::string::npos;
  };
  ASSERT_TRUE(Cmd({"statussize", "170"}));
  EXPECT_EQ(Ask(M, yls::cmdGetLaserStatus).DataSize, 170U);
  ASSERT_TRUE(Cmd({"idsize", "99"}));
  EXPECT_EQ(Ask(M, yls::cmdGetLaserID).DataSize, 99U);

  ASSERT_TRUE(Cmd({"badcrc", "2"}));
  EXPECT_EQ(Ask(M, yls::cmdPowerSupply, yls::Word16(1)).Check, yls::TCheck::CrcError);
  EXPECT_EQ(Ask(M, yls::cmdPowerSupply, yls::Word16(1)).Check, yls::TCheck::CrcError);
  EXPECT_EQ(Ask(M, yls::cmdPowerSupply, yls::Word16(1)).Check, yls::TCheck::Ok);

  // 0xFFFA for everything until the access level comes.
  ASSERT_TRUE(Cmd({"fffa"}));
  EXPECT_EQ(Ask(M, yls::cmdModulationCtrl, yls::Word16(1)).H.Executioncode, 0xFFFA);
  EXPECT_EQ(Ask(M, yls::cmdSetAccessLev, yls::AccessLevelData()).H.Executioncode, 0);
  EXPECT_EQ(Ask(M, yls::cmdModulationCtrl, yls::Word16(1)).H.Executioncode, 0);

  ASSERT_TRUE(Cmd({"alarm", "0x2"}));
  ASSERT_TRUE(Cmd({"warning", "0x100"}));
  ASSERT_TRUE(Cmd({"robot", "on"}));
  EXPECT_TRUE(Has("alarms1=00000002") && Has("warnings1=00000100")) << M.StateLine();
  EXPECT_NE(M.Status1() & sim::TYLSModel::BitRobotMode, 0U);
  ASSERT_TRUE(Cmd({"clear"}));
  EXPECT_TRUE(Has("alarms1=00000000") && Has("warnings1=00000000")) << M.StateLine();

  for (const std::vector<std::string>& Bad :
       {std::vector<std::string>{"alarm", "x1"}, {"statussize", "5000"}}) {
    EXPECT_THROW(Cmd(Bad), std::invalid_argument) << Bad[0];
  }
}

} // namespace
} // namespace nclaser
