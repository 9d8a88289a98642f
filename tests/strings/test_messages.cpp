#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "hostkit/ini_locale.h"
#include "strings/messages.h"
#include "tests/support/host_fixture.h"

namespace nclaser {
namespace {

using MessagesTest = nclaser::testing::HostTest;

// Every text keeps its default while no locale was loaded, even when asked to reload.
TEST_F(MessagesTest, TheCatalogueHas56DistinctKeysInLoadOrderAndTheirDefaults) {
  LoadDeviceStrs();
  EXPECT_EQ(SLaserAlarm.Get(), " 激光器报警");
  EXPECT_EQ(SIPGPulseTooShort.Get(), "Pulse Too Short");
  EXPECT_EQ(SLaserConnectedOk.Get(), "激光器串口/网络已连接成功.");
  const auto Strs = DeviceStrs();
  ASSERT_EQ(Strs.size(), 56U);
  EXPECT_STREQ(Strs.front().Key, "SIPGCommCommunicationException");
  EXPECT_STREQ(Strs[20].Key, "SLaserAlarm");
  EXPECT_STREQ(Strs.back().Key, "SV102ServerTimeOut");
  std::set<std::string> Keys;
  for (const auto& S : Strs) {
    Keys.insert(S.Key);
    EXPECT_EQ(S.Str->Get(), S.Default) << S.Key;
  }
  EXPECT_EQ(Keys.size(), 56U);
  const auto Ray = RaycusStateStrs();
  ASSERT_EQ(Ray.size(), 13U);
  EXPECT_EQ(Ray.front(), &STemperature1Err);
  EXPECT_EQ(Ray.back(), &SPulseWidthStatusErr);
}

TEST_F(MessagesTest, RegistersItsLocaleProcedureOnceAndFollowsLanguageChanges) {
  EXPECT_EQ(Host->App.LocaleProcCount(), 1U);
  InitializeDeviceStrs(); // the package initialised again
  EXPECT_EQ(Host->App.LocaleProcCount(), 1U);
  FinalizeDeviceStrs();
  EXPECT_EQ(SLaserAlarm.Get(), " 激光器报警"); // not the last finalisation

  Host->App.LoadLocaleText("[Device_Strs]\nSLaserAlarm=\" laser alarm\"\nSV101Err=Fault A\n");
  EXPECT_EQ(SLaserAlarm.Get(), " laser alarm");
  EXPECT_EQ(SV101Err.Get(), "Fault A");
  EXPECT_EQ(SV102Err.Get(), "故障");     // same default, separate key
  EXPECT_EQ(SIPGOverheat.Get(), "过热"); // a partial locale changes only what it holds

  Host->App.LoadLocaleText("[Device_Strs]\nSV101Err=Störung\n[Other]\nSLaserAlarm=x\n");
  EXPECT_EQ(SV101Err.Get(), "Störung");
  EXPECT_EQ(SLaserAlarm.Get(), " laser alarm"); // kept from the first language
}

TEST_F(MessagesTest, TheLastFinalisationReleasesTheTexts) {
  Host->Uninstall();
  EXPECT_EQ(SLaserAlarm.Get(), "");
  Host->Install();
  EXPECT_EQ(SLaserAlarm.Get(), " 激光器报警");
}

TEST_F(MessagesTest, EnglishLocaleFileTranslatesEveryMessage) {
  std::string Error;
  ASSERT_TRUE(Host->App.LoadLocale(NCLASER_SOURCE_DIR "/locale/en.ini", &Error)) << Error;
  for (const auto& S : DeviceStrs()) {
    const std::string Text = S.Str->Get();
    EXPECT_FALSE(Text.empty()) << S.Key;
    for (unsigned char C : Text) {
      EXPECT_LT(C, 0x80) << S.Key << " is not translated: " << Text;
    }
  }
  EXPECT_EQ(SLaserAlarm.Get(), " laser alarm");
}

TEST(IniLocale, ParsesSectionsCommentsBomAndQuotes) {
  hostkit::TIniLocale L;
  EXPECT_FALSE(L.GetLoaded());
  L.LoadFromString("\xEF\xBB\xBF; comment\n[Device_Strs]\r\n  Key = value with blanks  \r\n"
                   "# another\nQuoted=\"  lead\"\nbroken line\n[Empty]\n");
  EXPECT_TRUE(L.GetLoaded());
  std::string V = "old";
  L.ReadStr("Device_Strs", "Key", V);
  EXPECT_EQ(V, "value with blanks");
  L.ReadStr("Device_Strs", "Quoted", V);
  EXPECT_EQ(V, "  lead");
  V = "kept";
  L.ReadStr("Device_Strs", "Missing", V);
  L.ReadStr("Nowhere", "Key", V);
  EXPECT_EQ(V, "kept");
  std::string Error;
  EXPECT_FALSE(L.LoadFromFile("/nonexistent/dir/x.ini", &Error));
  EXPECT_NE(Error.find("/nonexistent/dir/x.ini"), std::string::npos);
  EXPECT_TRUE(L.GetLoaded()); // a failed load keeps the texts it had
}

} // namespace
} // namespace nclaser
