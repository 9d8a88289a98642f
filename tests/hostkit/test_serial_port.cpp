#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "host/comm.h"
#include "hostkit/serial_port.h"
#include "tests/support/host_fixture.h"
#include "tests/support/pty_pair.h"

namespace nclaser::testing {
namespace {

using hostkit::ParseSerialSettings;
using hostkit::TParity;
using hostkit::TSerialPort;
using hostkit::TSerialPortMap;
using hostkit::TSerialSettings;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point T0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - T0).count();
}

std::vector<std::uint8_t> AllBytes() {
  std::vector<std::uint8_t> V(256);
  std::iota(V.begin(), V.end(), 0);
  return V;
}

TEST(SerialSettings, AcceptsEveryWellFormedVariant) {
  struct TCase {
    std::string Text;
    int Baud;
    TParity Parity;
    int Data;
    int Stop;
  };
  const TCase Cases[] = {
      {"9600,n,8,1", 9600, TParity::None, 8, 1},
      {"115200,E,7,2", 115200, TParity::Even, 7, 2},
      {" 19200 , o , 6 , 1 ", 19200, TParity::Odd, 6, 1},
      {"4800,m,5,2", 4800, TParity::Mark, 5, 2},
      {"1200,S,8,1", 1200, TParity::Space, 8, 1},
      {std::string("38400,n,8,1\0,x,y", 16), 38400, TParity::None, 8, 1},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    TSerialSettings S;
    std::string Error;
    ASSERT_TRUE(ParseSerialSettings(C.Text, S, &Error)) << Error;
    EXPECT_EQ(S.Baud, C.Baud);
    EXPECT_EQ(S.Parity, C.Parity);
    EXPECT_EQ(S.DataBits, C.Data);
    EXPECT_EQ(S.StopBits, C.Stop);
  }
}

TEST(SerialSettings, RefusesMalformedTextAndKeepsTheOldValues) {
  const std::string Bad[] = {"",
                             "9600",
                             "9600,n,8",
                             "9600,n,8,1,1",
                             "abc,n,8,1",
                             "-9600,n,8,1",
                             "0,n,8,1",
                             "99999999999999999,n,8,1",
                             "9600,x,8,1",
                             "9600,,8,1",
                             "9600,no,8,1",
                             "9600,n,9,1",
                             "9600,n,4,1",
                             "9600,n,8,3",
                             "9600,n,8,0",
                             "9600,n,8,1.5",
                             "9600;n;8;1",
                             std::string("\0"
                                         "9600,n,8,1",
                                         11)};
  for (const auto& Text : Bad) {
    SCOPED_TRACE(Text);
    TSerialSettings S;
    S.Baud = 1234;
    std::string Error;
    EXPECT_FALSE(ParseSerialSettings(Text, S, &Error));
    EXPECT_FALSE(Error.empty());
    EXPECT_EQ(S.Baud, 1234);
  }
}

TEST(SerialPortMap, DefaultsToTtySAndHonoursOverrides) {
  TSerialPortMap Map;
  EXPECT_EQ(Map.DevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(Map.DevicePath(4), "/dev/ttyS3");
  EXPECT_EQ(Map.DevicePath(0), "");
  EXPECT_EQ(Map.DevicePath(-2), "");
  Map.Set(4, "/dev/ttyUSB0");
  EXPECT_EQ(Map.DevicePath(4), "/dev/ttyUSB0");
  EXPECT_EQ(Map.DevicePath(3), "/dev/ttyS2");
  Map.Remove(4);
  EXPECT_EQ(Map.DevicePath(4), "/dev/ttyS3");
  Map.Set(1, "/dev/ttyACM0");
  Map.Clear();
  EXPECT_EQ(Map.DevicePath(1), "/dev/ttyS0");
}

class SerialPortTest : public HostTest {
protected:
  void SetUp() override {
    HostTest::SetUp();
    Host->SerialPorts->Set(3, Pty.DevicePath());
    Port = NewCommCtrl();
    ASSERT_NE(Port, nullptr);
    Port->SetSettings("115200,n,8,1");
    Port->SetCommPort(3);
  }
  void TearDown() override {
    Port.reset();
    HostTest::TearDown();
  }
  // Collects what the port receives within TimeoutMs, until Count bytes came.
  std::vector<std::uint8_t> Receive(size_t Count, int TimeoutMs) {
    std::vector<std::uint8_t> Got;
    const auto T0 = Clock::now();
    std::uint8_t Buf[1024];
    while (Got.size() < Count && MsSince(T0) < TimeoutMs) {
      Port->WaitForInput(50);
      const int N = Port->Read(Buf, sizeof Buf);
      Got.insert(Got.end(), Buf, Buf + N);
    }
    return Got;
  }

  TPtyPair Pty;
  std::unique_ptr<TCommCtrl> Port;
};

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays) {
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  const auto Bytes = AllBytes();
  EXPECT_EQ(Port->Write(Bytes.data(), 256), 256);
  EXPECT_EQ(Pty.Read(256, 2000), Bytes);

  ASSERT_TRUE(Pty.Write(Bytes));
  EXPECT_EQ(Receive(256, 2000), Bytes);

  // Text keeps NULs and high bytes too.
  const std::string Text("A\0\xff\r\n\x11\x13", 7);
  EXPECT_EQ(Port->WriteString(Text), 7);
  EXPECT_EQ(Pty.ReadText(7, 1000), Text);
  ASSERT_TRUE(Pty.Write(Text));
  ASSERT_TRUE(Port->WaitForInput(1000));
  std::string Got;
  const auto T0 = Clock::now();
  while (Got.size() < Text.size() && MsSince(T0) < 1000) {
    Got += Port->ReadAsString();
  }
  EXPECT_EQ(Got, Text);
}

TEST_F(SerialPortTest, ReadsReturnAtOnceWithWhatIsWaiting) {
  Port->Open();
  ASSERT_TRUE(Port->GetActive());
  std::uint8_t Buf[1024];
  auto T0 = Clock::now();
  EXPECT_EQ(Port->Read(Buf, sizeof Buf), 0);
  EXPECT_EQ(Port->ReadAsString(), "");
  EXPECT_LT(MsSince(T0), 100.0);

  ASSERT_TRUE(Pty.Write("0123456789"));
  ASSERT_TRUE(Port->WaitForInput(1000));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Port->Read(Buf, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Buf), 4), "0123");
  EXPECT_EQ(Port->ReadAsString(), "456789");
  T0 = Clock::now();
  EXPECT_EQ(Port->Read(Buf, sizeof Buf), 0);
  EXPECT_LT(MsSince(T0), 100.0);
  EXPECT_TRUE(Port->GetActive());
}

TEST_F(SerialPortTest, WaitForInputHonoursItsTimeOutBothWays) {
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  auto T0 = Clock::now();
  EXPECT_FALSE(Port->WaitForInput(150));
  EXPECT_GE(MsSince(T0), 140.0);
  EXPECT_LT(MsSince(T0), 500.0);

  std::thread Far([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    Pty.Write("x");
  });
  T0 = Clock::now();
  EXPECT_TRUE(Port->WaitForInput(3000));
  EXPECT_LT(MsSince(T0), 1000.0);
  Far.join();
  EXPECT_EQ(Port->ReadAsString(), "x");
}

TEST_F(SerialPortTest, CloseFromAnotherThreadEndsAWaitAtOnce) {
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  std::atomic<bool> Stop{false};
  std::thread Watcher([&] { // GetActive may be read from anywhere at any time
    while (!Stop.load()) {
      (void)Port->GetActive();
    }
  });
  std::thread Closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    Port->Close();
  });
  const auto T0 = Clock::now();
  EXPECT_FALSE(Port->WaitForInput(5000));
  EXPECT_LT(MsSince(T0), 1000.0);
  Closer.join();
  Stop = true;
  Watcher.join();
  EXPECT_FALSE(Port->GetActive());
  // Closed: nothing to read or write, and no wait.
  std::uint8_t B = 0;
  EXPECT_EQ(Port->Read(&B, 1), 0);
  EXPECT_EQ(Port->Write("z", 1), -1);
  EXPECT_FALSE(Port->WaitForInput(1000));
}

TEST_F(SerialPortTest, UnpluggedDeviceDropsThePortAndReopensOnceBack) {
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  Pty.Unplug();
  EXPECT_EQ(Port->WriteString("hello"), -1);
  EXPECT_FALSE(Port->GetActive());
  // Still away: opening fails quietly.
  Port->SetActive(true);
  EXPECT_FALSE(Port->GetActive());

  Pty.Replug();
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  EXPECT_EQ(Port->WriteString("again"), 5);
  EXPECT_EQ(Pty.ReadText(5, 1000), "again");
}

TEST_F(SerialPortTest, AReaderAloneNoticesTheHangUp) {
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  Pty.Unplug();
  std::uint8_t Buf[16];
  EXPECT_EQ(Port->Read(Buf, sizeof Buf), 0);
  EXPECT_FALSE(Port->GetActive());
  EXPECT_EQ(Port->ReadAsString(), "");

  // An open call on a port that hung up unnoticed reopens rather than trusting the flag.
  Pty.Replug();
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  Pty.Replug();
  Port->Open();
  ASSERT_TRUE(Port->GetActive());
  EXPECT_EQ(Port->WriteString("ok"), 2);
  EXPECT_EQ(Pty.ReadText(2, 1000), "ok");
}

TEST_F(SerialPortTest, MalformedOrUnsupportedSettingsRefuseToOpen) {
  auto* Concrete = dynamic_cast<TSerialPort*>(Port.get());
  ASSERT_NE(Concrete, nullptr);
  for (const char* Bad : {"fast,n,8,1", "9600,n,8", "9600,q,8,1", "12345,n,8,1"}) {
    SCOPED_TRACE(Bad);
    Port->SetSettings(Bad);
    Port->SetActive(true);
    EXPECT_FALSE(Port->GetActive());
    EXPECT_FALSE(Concrete->LastError().empty());
  }
  Port->SetSettings("9600,n,8,1");
  Port->SetActive(true);
  EXPECT_TRUE(Port->GetActive());
  EXPECT_EQ(Concrete->DevicePath(), Pty.DevicePath());
}

TEST_F(SerialPortTest, LineSettingsReachTheTerminal) {
  // A pty keeps speed, stop bits and the parity kind but forces 8 data bits without a
  // parity bit (its driver does), so those two are not checked here.
  struct TCase {
    const char* Text;
    speed_t Speed;
    tcflag_t Set;
    tcflag_t Clear;
  };
  const TCase Cases[] = {
      {"9600,e,7,2", B9600, CSTOPB, PARODD},       {"19200,o,8,1", B19200, PARODD, CSTOPB},
      {"57600,n,5,1", B57600, 0, PARODD | CSTOPB},
#ifdef CMSPAR
      {"4800,m,8,1", B4800, PARODD | CMSPAR, 0},   {"4800,s,8,2", B4800, CMSPAR | CSTOPB, PARODD},
      {"4800,o,8,1", B4800, PARODD, CMSPAR},
#endif
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    Port->SetSettings(C.Text);
    Port->SetActive(true);
    ASSERT_TRUE(Port->GetActive());
    const int Fd = ::open(Pty.TtyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(Fd, 0);
    termios T{};
    ASSERT_EQ(::tcgetattr(Fd, &T), 0);
    ::close(Fd);
    EXPECT_EQ(::cfgetospeed(&T), C.Speed);
    EXPECT_EQ(::cfgetispeed(&T), C.Speed);
    EXPECT_EQ(T.c_cflag & C.Set, C.Set);
    EXPECT_EQ(T.c_cflag & C.Clear, 0U);
    EXPECT_EQ(T.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(T.c_oflag & OPOST, 0U);
    EXPECT_EQ(T.c_iflag & (ICRNL | IXON), 0U);
    Port->SetActive(false);
  }
  // Settings changed on an open port apply at once.
  Port->SetSettings("9600,n,8,1");
  Port->SetActive(true);
  Port->SetSettings("2400,n,8,2");
  EXPECT_TRUE(Port->GetActive());
  const int Fd = ::open(Pty.TtyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(Fd, 0);
  termios T{};
  ASSERT_EQ(::tcgetattr(Fd, &T), 0);
  ::close(Fd);
  EXPECT_EQ(::cfgetospeed(&T), B2400);
  EXPECT_NE(T.c_cflag & CSTOPB, 0U);
}

TEST_F(SerialPortTest, SecondPortOnTheSameDeviceIsRefused) {
  Port->SetActive(true);
  ASSERT_TRUE(Port->GetActive());
  auto Other = NewCommCtrl();
  Other->SetCommPort(3);
  Other->SetActive(true);
  EXPECT_FALSE(Other->GetActive());
  Port->SetActive(false);
  Other->SetActive(true);
  EXPECT_TRUE(Other->GetActive());
}

TEST_F(SerialPortTest, AnUnprivilegedUserCanReopenADeviceHeldOpenElsewhere) {
  // The far end keeps the tty open, as a second program on a real line may; the port's
  // exclusive-use flag must not outlive its own close, or the reopen is refused.
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to hand the pty to another user";
  }
  ASSERT_EQ(::chown(Pty.TtyPath().c_str(), 65534, 65534), 0);
  const std::string Tty = Pty.TtyPath();
  const pid_t Pid = ::fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
      ::_exit(3);
    }
    auto Map = std::make_shared<TSerialPortMap>();
    Map->Set(1, Tty);
    TSerialPort P(Map);
    P.SetCommPort(1);
    int Code = 0;
    for (int I = 0; I < 3 && Code == 0; ++I) {
      P.SetActive(true);
      Code = P.GetActive() && P.WriteString("r") == 1 ? 0 : 1;
      P.SetActive(false);
    }
    ::_exit(Code);
  }
  int Status = 0;
  ASSERT_EQ(::waitpid(Pid, &Status, 0), Pid);
  ASSERT_TRUE(WIFEXITED(Status));
  if (WEXITSTATUS(Status) == 3) {
    GTEST_SKIP() << "cannot drop privileges here";
  }
  EXPECT_EQ(WEXITSTATUS(Status), 0);
  EXPECT_EQ(Pty.ReadText(3, 1000), "rrr");
}

TEST_F(SerialPortTest, MissingDeviceOrPortNumberLeavesThePortClosed) {
  Port->SetCommPort(0);
  Port->SetActive(true);
  EXPECT_FALSE(Port->GetActive());
  Host->SerialPorts->Set(5, "/nonexistent/tty");
  Port->SetCommPort(5);
  Port->Open();
  EXPECT_FALSE(Port->GetActive());
  Host->SerialPorts->Set(6, "/dev/null"); // not a terminal
  Port->SetCommPort(6);
  Port->Open();
  EXPECT_FALSE(Port->GetActive());
  EXPECT_EQ(Port->Write("x", 1), -1);
}

} // namespace
} // namespace nclaser::testing
