// The text-protocol simulator models without a transport: their fault injection and the
// commands `nclaser sim` hands them. What they answer on the wire is covered end to end.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sim/castext/castext_model.h"
#include "sim/mars/mars_model.h"
#include "sim/nlight/nlight_model.h"

namespace nclaser::sim {
namespace {

std::string Answer(TSimModel& M, const std::string& Request, double Now = 0) {
  const TBytes R = ToBytes(Request);
  const TSplit S = M.Split(R);
  EXPECT_EQ(S.Skip + S.Length, R.size()) << Request;
  const TBytes A = M.Handle(std::span<const std::uint8_t>(R).subspan(S.Skip, S.Length), Now);
  return ToText(A);
}

TEST(TextModels, MarsStatusBitsFormatAndGarbledLines) {
  TMarsModel M(101, 1000.0);
  EXPECT_EQ(Answer(M, "?IMAXUSR\r\n"), "PMAX_CW=2710\r\n");
  EXPECT_EQ(*M.Command({"alarm", "27"}), "STATUS=08000000");
  EXPECT_EQ(Answer(M, "?STATUS\r\n"), "STATUS=08000000\r\n");
  M.Command({"alarm", "63"}); // beyond 8 digits: only the 16-digit format shows it
  EXPECT_EQ(Answer(M, "?STATUS\r\n"), "STATUS=08000000\r\n");
  M.Command({"format", "102"});
  EXPECT_EQ(Answer(M, "?STATUS\r\n"), "STATUS=8000000008000000\r\n");
  M.Command({"garble", "on"});
  const std::string G = Answer(M, "?STATUS\r\n");
  EXPECT_EQ(G.size(), 25U);
  EXPECT_EQ(G.substr(23), "\r\n");
  EXPECT_EQ(G.find("STATUS="), std::string::npos);
  EXPECT_EQ(Answer(M, "OUT=138800000000\r\n"), ""); // set commands get no answer
  EXPECT_EQ(M.OutTenths(), 5000U);
  for (const std::vector<std::string>& Bad :
       {std::vector<std::string>{"alarm", "64"}, {"alarm"}, {"format", "103"}, {"garble", "x"}}) {
    EXPECT_THROW(M.Command(Bad), std::invalid_argument) << Bad[0];
  }
  EXPECT_FALSE(M.Command({"frobnicate"}).has_value());
}

TEST(TextModels, NLightWantsTheSystemOnLongEnoughBeforeTheEnable) {
  TNLightModel M(1500.0, 2500);
  EXPECT_EQ(Answer(M, "get maxpower\r"), "1500.0\r\n");
  M.Command({"maxpower", "8"});
  EXPECT_EQ(Answer(M, "get maxpower\r"), "8.0\r\n");
  Answer(M, "set syson 1\r", 1000);
  Answer(M, "set enable 1\r", 3000);
  EXPECT_FALSE(M.Emission());
  EXPECT_EQ(M.EarlyEnables(), 1);
  Answer(M, "set enable 1\r", 3500);
  EXPECT_TRUE(M.Emission());
  Answer(M, "set syson 0\r", 4000);
  EXPECT_FALSE(M.Emission());
  // A line feed after the carriage return is noise before the next command.
  const TBytes R = ToBytes("\nset aimingon 1\r");
  EXPECT_EQ(M.Split(R).Skip, 1U);
}

TEST(TextModels, CASEchoesAndQingHuaFollowsItsChannels) {
  TCmdEchoModel C(TCmdEchoModel::TMake::CAS, true);
  EXPECT_EQ(Answer(C, "SCUS:68\r"), "SCUS:68\r");
  EXPECT_EQ(C.Power(), 68);
  C.Command({"garble", "on"});
  EXPECT_NE(Answer(C, "EMIS:1\r"), "EMIS:1\r");
  EXPECT_TRUE(C.Emission());
  TCmdEchoModel Q(TCmdEchoModel::TMake::QingHua, false);
  EXPECT_EQ(Answer(Q, "w61 80\r\n"), "");
  EXPECT_EQ(Q.PowerWithoutMode(), 1);
  Answer(Q, "w65 0\r\n");
  Answer(Q, "w61 100\r\n");
  EXPECT_EQ(Q.Power(), 100);
  EXPECT_EQ(Q.PowerWithoutMode(), 1);
  Answer(Q, "w69 1\r\n");
  EXPECT_EQ(Q.Unknown(), 1);
}

} // namespace
} // namespace nclaser::sim
