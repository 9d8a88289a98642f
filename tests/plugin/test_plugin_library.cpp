// libnclaser.so as a host sees it: loaded with dlopen, entered through its one exported
// function, its class table walked, lasers built and freed, unloaded and loaded again.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "hostkit/plugin_library.h"
#include "lasers/factory.h"
#include "params/textbuf.h"

namespace nclaser {
namespace {

using hostkit::TPluginLibrary;

std::string Shell(const std::string& Cmd) {
  std::string Out;
  FILE* P = popen(Cmd.c_str(), "r");
  if (P == nullptr) {
    return Out;
  }
  char Buf[512];
  while (std::fgets(Buf, sizeof(Buf), P) != nullptr) {
    Out += Buf;
  }
  pclose(P);
  return Out;
}

bool Loaded() {
  void* H = dlopen(NCLASER_PLUGIN_FILE, RTLD_NOW | RTLD_NOLOAD);
  if (H != nullptr) {
    dlclose(H);
  }
  return H != nullptr;
}

// The rule: the library's dynamic symbol table defines the entry point and nothing else.
// Any other defined symbol, a laser class, a helper or a template the library
// instantiated, is an internal a host could bind to by accident.
TEST(PluginSymbols, OnlyTheEntryPointIsExportedUnderItsSoname) {
  std::set<std::string> Defined;
  std::string Line;
  for (const char C : Shell("nm -D --defined-only " NCLASER_PLUGIN_FILE)) {
    if (C != '\n') {
      Line += C;
      continue;
    }
    Defined.insert(Line.substr(Line.rfind(' ') + 1));
    Line.clear();
  }
  EXPECT_EQ(Defined, std::set<std::string>{"NcLaserPluginEntry"});
  EXPECT_NE(Shell("objdump -p " NCLASER_PLUGIN_FILE).find("SONAME               libnclaser.so.1"),
            std::string::npos);
}

class PluginLibraryTest : public ::testing::Test {
protected:
  // The host lends its services to the loaded library only; the copy of the plug-in
  // linked into this program stays unbound.
  hostkit::THost Host;

  TLaserParams Defaults(const TNcPlugin& T, TEnumLaserType Type) {
    TLaserParams P;
    T.InitializeParams(&P, Type);
    return P;
  }
};

// The host's defaults for the class's LaserType and its first default sub-type, with no
// link that could open (serial port 0, TCP to a closed loopback port).
TLaserParams ParamsFor(const TNcPlugin& T, const TNcPluginClass& C) {
  TLaserParams P;
  T.InitializeParams(&P, C.LaserType);
  P.DefParams.Model = "Test";
  P.DefParams.CtrlPort = 3;
  const auto Sub = static_cast<std::uint8_t>(C.SubTypes != 0 ? __builtin_ctz(C.SubTypes) : 0);
  if (C.LaserType == eltIPG) {
    P.CfgIPG.IPGType = Sub != 0 ? static_cast<TIPGLaserType>(Sub) : ltYLRComm;
    P.CfgIPG.YLR.Comm.CommPort = 0;
    EXPECT_TRUE(Utf8ToTextBuf("Test", P.CfgIPG.Model)); // some describe themselves by it
    EXPECT_TRUE(Utf8ToTextBuf("127.0.0.254", P.CfgIPG.YLS.Net.TcpHost));
    P.CfgIPG.YLS.Net.TcpPort = 9; // nothing listens there
  } else if (C.LaserType == eltRay) {
    P.CfgRay.RayType = static_cast<TRayLaserType>(Sub);
    P.CfgRay.Comm.CommPort = 0;
  } else if (C.LaserType == eltCAS || C.LaserType == eltMars || C.LaserType == eltQingHua ||
             C.LaserType == CfgNLight) {
    P.CfgCAS.Comm.CommPort = 0; // the four share TLaserCommParam
  }
  return P;
}

// Every class of the library's table is built through it, registers its alarm, switches
// and is freed without leaving an alarm behind; a class that is a default is the one the
// table picks for its record.
TEST_F(PluginLibraryTest, EveryClassOfTheTableBuildsAndIsFreed) {
  const TPluginLibrary Lib(NCLASER_PLUGIN_FILE, Host);
  const TNcPlugin& T = Lib.Table();
  EXPECT_EQ(T.InterfaceVersion, NcPluginInterfaceVersion);
  EXPECT_STREQ(T.PluginVersion, NCLASER_VERSION);
  EXPECT_EQ(T.ClassCount, LaserClasses().size());
  for (std::size_t I = 0; I < T.ClassCount; ++I) {
    const TNcPluginClass& C = T.Classes[I];
    SCOPED_TRACE(C.Name);
    const TLaserParams P = ParamsFor(T, C);
    EXPECT_EQ(T.DefaultClass(&P) == &C, C.SubTypes != 0);
    char Error[256] = "";
    TNcLaser* L = C.New(&C, nullptr, &P, Error, sizeof(Error));
    ASSERT_NE(L, nullptr) << Error;
    L->RegisterAlarms();
    EXPECT_NE(L->GetAlarmID(), 0);
    if (std::string(C.Name) != "TRayQCWLaser") { // describes itself by its laser's model
      EXPECT_NE(L->GetDeviceDesc().find("Test"), std::string::npos) << L->GetDeviceDesc();
    }
    L->LaserOn();
    L->UpdateAlarms();
    L->LaserOff();
    C.Free(L);
    EXPECT_EQ(Host.Alarms.Count(), 0U);
  }
}

TEST_F(PluginLibraryTest, LoadedTwiceUnloadedAndLoadedAgainWithThreadsRunning) {
  for (int Round = 0; Round < 2; ++Round) {
    SCOPED_TRACE(Round);
    {
      const TPluginLibrary A(NCLASER_PLUGIN_FILE, Host);
      const TPluginLibrary B(NCLASER_PLUGIN_FILE, Host); // the same image, entered twice
      EXPECT_EQ(&A.Table(), &B.Table());
      EXPECT_EQ(Host.App.LocaleProcCount(), 1U);
      // The texts come from the library and follow the host's language.
      TLaserParams P = Defaults(A.Table(), eltRofin);
      P.DefParams.Model = "Rofin";
      auto L = B.NewLaser("TRofinLaser", P);
      EXPECT_EQ(L->GetAlarmDesc(), "Rofin 激光器报警");
      Host.App.LoadLocaleText("[Device_Strs]\nSLaserAlarm=\" laser alarm\"\n");
      EXPECT_EQ(L->GetAlarmDesc(), "Rofin laser alarm");
      // Emission on runs the power-on sequence on a thread of the library's that frees
      // itself; the laser goes while it runs.
      L->EmissionOn();
      for (int I = 0; I < 200 && Host.App.ThreadNames().size() <= std::size_t(Round); ++I) {
        usleep(5000);
      }
      EXPECT_EQ(Host.App.ThreadNames().size(), std::size_t(Round) + 1);
      L.reset();
    }
    EXPECT_FALSE(Loaded());
    EXPECT_EQ(Host.App.LocaleProcCount(), 0U);
  }
}

const TNcPlugin* NewerPlugin(std::uint32_t, const TNcHostServices*, char*, std::size_t) {
  static const TNcPlugin Newer{
      NcPluginInterfaceVersion + 1, "2.0.0", 0, nullptr, nullptr, nullptr, nullptr};
  return &Newer;
}

TEST_F(PluginLibraryTest, HostAndPluginOfDifferentInterfaceVersionsRefuseEachOther) {
  // An older host meets this plug-in: the plug-in refuses.
  void* H = dlopen(NCLASER_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(H, nullptr) << dlerror();
  const auto Entry = reinterpret_cast<TNcPluginEntry>(dlsym(H, NCLASER_PLUGIN_ENTRY));
  ASSERT_NE(Entry, nullptr);
  const TNcHostServices S = Host.Services();
  char Error[256] = "";
  EXPECT_EQ(Entry(NcPluginInterfaceVersion + 1, &S, Error, sizeof(Error)), nullptr);
  EXPECT_STREQ(Error, "nclaser plug-in " NCLASER_VERSION
                      " speaks interface version 1; the host speaks version 2");
  dlclose(H);

  // This host meets a newer plug-in: the host refuses.
  try {
    const TPluginLibrary Lib(&NewerPlugin, Host, "newer.so");
    ADD_FAILURE() << "a plug-in of another interface version was taken";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(),
                 "newer.so: the plug-in speaks interface version 2; this host speaks version 1");
  }
}

TEST_F(PluginLibraryTest, RefusalsComeBackAsOneMessage) {
  const TPluginLibrary Lib(NCLASER_PLUGIN_FILE, Host);
  hostkit::THost Other;
  try {
    const TPluginLibrary Second(NCLASER_PLUGIN_FILE, Other);
    ADD_FAILURE() << "one image bound to two hosts";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(),
                 NCLASER_PLUGIN_FILE ": nclaser plug-in: already bound to another host's services");
  }
  EXPECT_THROW(TPluginLibrary("/nonexistent/libnclaser.so", Host), std::runtime_error);
  // A laser that refuses its configuration: no laser, its message, nothing left behind.
  try {
    Lib.NewLaser("TIPG500Laser", Defaults(Lib.Table(), eltIPG));
    ADD_FAILURE() << "built with IPGType ltIPGErr";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(), "IPG.LaserType Error Message");
  }
  EXPECT_THROW(Lib.NewLaser("TNoSuchLaser", Defaults(Lib.Table(), eltNone)), std::runtime_error);
  EXPECT_TRUE(Host.Alarms.Active().empty());
}

} // namespace
} // namespace nclaser
