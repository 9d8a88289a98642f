// The Raycus CW thread's own rows on a scripted port, and the classes' choices that need
// no laser on the line: the end-to-end suite covers the traffic itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lasers/factory.h"
#include "lasers/raycus.h"
#include "protocols/raycus.h"
#include "strings/messages.h"
#include "tests/support/fake_comm_test.h"

namespace nclaser {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RaycusLaserTest : public testing::FakeCommTest {
protected:
  template <class T>
  T& Make(int Port, const char* PulseModel, bool Debug = false, bool ShowAnswers = false) {
    TLaserParams P;
    P.Initialize();
    P.DefParams.PWM.Initialize();
    P.DefParams.DA.Initialize();
    P.DefParams.Model = "Raycus";
    P.LaserType = eltRay;
    P.CfgRay.Initialize();
    P.CfgRay.Comm.CommPort = Port;
    P.CfgRay.Comm.IgnoreCommResult = !ShowAnswers;
    P.CfgRay.DebugMode = Debug;
    EXPECT_TRUE(Utf8ToTextBuf(PulseModel, P.CfgRay.PulseModel));
    Laser = NewLaser<T>(nullptr, P);
    return static_cast<T&>(*Laser);
  }
  void TearDown() override {
    Laser.reset();
    FakeCommTest::TearDown();
  }
  TNcLaserPtr Laser;
};

// A write that reports -1 counts as written on this make: it is logged and paced.
TEST_F(RaycusLaserTest, AnyNonzeroWriteCountsAndTheLaserTextsAreShown) {
  auto& L = Make<TRaycusLaser>(1, "qcw", /*Debug=*/true, /*ShowAnswers=*/true);
  Line->FailNextWrites(1, -1);
  L.EmissionOn();
  L.LaserOn(); // PulseModel is not exactly "QCW": no pulse parameters
  ASSERT_TRUE(
      Line->WaitFor([&] { return Host->App.CountContaining("Send Data: 1B 4F 0D") == 1; }, 2000));
  Line->Feed({'T', 'S', 'O', '\r'});
  Line->Feed({0x1B, 0x01});
  Line->Feed({'T', 'S', '!'});
  ASSERT_TRUE(Line->WaitFor([&] { return Line->PendingInput() == 0; }, 2000));
  Laser.reset();
  EXPECT_EQ(Host->App.CountContaining("TSO\r"), 1);
  EXPECT_EQ(Host->App.CountContaining("Rev Data: 1B 01"), 1);
  EXPECT_EQ(Host->App.CountContaining("Rev Data: 54"), 0); // text is shown, not dumped
  EXPECT_EQ(Host->App.CountContaining(SLaserConnectedOk.Get()), 1);
  EXPECT_EQ(Host->App.CountContaining("Raycus thread started!"), 1);
  for (const auto& W : Line->Writes()) {
    EXPECT_NE(W.Bytes.at(1), 'F');
  }
}

TEST_F(RaycusLaserTest, WithoutALinkOrTheQCWModelTheClassesStepAside) {
  auto& C = Make<TRaycusLaser>(0, "QCW");
  EXPECT_FALSE(C.SetDiodeCustom(50.0)); // the analog output instead
  EXPECT_EQ(C.GetCommThread(), nullptr);
  Laser.reset();
  for (const char* Model : {"CW", ""}) {
    auto& Q = Make<TRayQCWLaser>(1, Model);
    EXPECT_FALSE(Q.GetIsQCW());
    EXPECT_FALSE(Q.SetDiodeCustom(50.0));
    EXPECT_EQ(Q.GetDiodeCurrent(), 0.0);
    EXPECT_EQ(Q.GetDeviceDesc(), "");
    Laser.reset();
  }
  EXPECT_TRUE(Make<TRayQCWLaser>(0, "qCw").GetIsQCW());
  EXPECT_FALSE(static_cast<TRayQCWLaser&>(*Laser).SetDiodeCustom(50.0)); // no link
  // Only the constructor's mode reset ever went out: the other lasers sent no frame.
  for (const auto& W : Line->Writes()) {
    EXPECT_TRUE(W.Bytes == raycus::BuildRequest(raycus::cmdResetLaserMode) ||
                W.Bytes == raycus::BuildRequest(raycus::cmdCheckStatus))
        << ::testing::PrintToString(W.Bytes);
  }
}

} // namespace
} // namespace nclaser
