// The shared simulator endpoint, with a toy line protocol: what every make's simulator gets
// from it (splitting, records, link faults, the command line of `nclaser sim`).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#include "host/clock.h"
#include "sim/endpoint.h"
#include "sim/table.h"
#include "tests/support/fd_io.h"

namespace nclaser {
namespace {

using sim::TBytes;

// Lines end with '\n'; '#' before a line is noise. "x" is answered "ok:x\n".
class TLineModel : public sim::TSimModel {
public:
  sim::TSplit Split(std::span<const std::uint8_t> In) override {
    std::size_t Skip = 0;
    while (Skip < In.size() && In[Skip] == '#') {
      ++Skip;
    }
    for (std::size_t I = Skip; I < In.size(); ++I) {
      if (In[I] == '\n') {
        return {Skip, I + 1 - Skip};
      }
    }
    return {Skip, 0};
  }
  TBytes Handle(std::span<const std::uint8_t> R, double /*NowMs*/) override {
    return sim::ToBytes("ok:" + sim::ToText(R));
  }
  sim::TSimCommands Commands() override {
    return {{"ping", "", "answers pong", [](const std::vector<std::string>&) { return "pong"; }}};
  }
};

int OpenPty(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios T{};
  if (Fd >= 0 && ::tcgetattr(Fd, &T) == 0) {
    ::cfmakeraw(&T);
    ::tcsetattr(Fd, TCSANOW, &T);
  }
  return Fd;
}

int Connect(const std::string& Address, int Port) {
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(static_cast<std::uint16_t>(Port));
  ::inet_pton(AF_INET, Address.c_str(), &A.sin_addr);
  if (::connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
    ::close(Fd);
    return -1;
  }
  return Fd;
}

std::string Exchange(int Fd, const std::string& Out, std::size_t Want, int TimeoutMs) {
  if (!Out.empty()) {
    testing::WriteFdAll(Fd, Out.data(), Out.size());
  }
  std::vector<std::uint8_t> In;
  testing::ReadFdMin(Fd, In, Want, TimeoutMs);
  return sim::ToText(In);
}

struct TFaultCase {
  const char* Name;
  std::function<void(sim::TSimEndpoint&)> Set;
  std::string Expect; // what "a\nb\n" brings back within the wait
};

TEST(SimEndpoint, AnswerFaultsOnAPty) {
  const TFaultCase Cases[] = {
      {"none", [](auto&) {}, "ok:a\nok:b\n"},
      {"silence", [](auto& S) { S.SetSilent(true); }, ""},
      {"short", [](auto& S) { S.SetTruncate(3); }, "ok:ok:"},
      {"delay", [](auto& S) { S.SetDelay(150); }, "ok:a\nok:b\n"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    sim::TSim<TLineModel> Sim;
    ASSERT_TRUE(Sim.StartPty());
    const int Fd = OpenPty(Sim.DevicePath());
    ASSERT_GE(Fd, 0);
    C.Set(Sim);
    const double T0 = NowMs();
    EXPECT_EQ(Exchange(Fd, "##a\nb\n", std::max<std::size_t>(C.Expect.size(), 1),
                       C.Expect.empty() ? 200 : 2000),
              C.Expect);
    if (std::string(C.Name) == "delay") {
      EXPECT_GE(ElapsedMs(T0), 140.0);
    }
    // The model followed every request and the noise was counted, whatever was answered.
    ASSERT_TRUE(Sim.WaitRequests([](const auto& R) { return R.size() == 2; }, 1000));
    EXPECT_EQ(Sim.JunkBytes(), 2U);
    ::close(Fd);
  }
  // Split answers go out whole but paced, and what is still queued is told.
  {
    sim::TSim<TLineModel> Sim;
    ASSERT_TRUE(Sim.StartPty());
    const int Fd = OpenPty(Sim.DevicePath());
    Sim.SetSplit(1, 50); // "ok:a\nok:b\n": ten pieces, the second answer's first with the
                         // first one's last: 400 ms
    EXPECT_EQ(Sim.OutputBacklogMs(), 0.0);
    const double T0 = NowMs();
    testing::WriteFdAll(Fd, "a\nb\n", 4);
    ASSERT_TRUE(Sim.WaitRequests([](const auto& R) { return R.size() == 2; }, 1000));
    EXPECT_GT(Sim.OutputBacklogMs(), 400.0 - ElapsedMs(T0) - 60.0);
    EXPECT_EQ(Exchange(Fd, "", 10, 3000), "ok:a\nok:b\n");
    EXPECT_GE(ElapsedMs(T0), 390.0);
    EXPECT_EQ(Sim.OutputBacklogMs(), 0.0);
    ::close(Fd);
  }
  // Garbage keeps the length and loses the content.
  sim::TSim<TLineModel> Sim;
  ASSERT_TRUE(Sim.StartPty());
  const int Fd = OpenPty(Sim.DevicePath());
  Sim.SetGarbage(true);
  const std::string G = Exchange(Fd, "abcdefgh\n", 12, 2000);
  EXPECT_EQ(G.size(), 12U);
  EXPECT_NE(G, "ok:abcdefgh\n");
  ::close(Fd);
}

TEST(SimEndpoint, PtyUnplugDropAndReplugKeepThePath) {
  sim::TSim<TLineModel> Sim;
  ASSERT_TRUE(Sim.StartPty());
  const std::string Path = Sim.DevicePath();
  Sim.Unplug();
  EXPECT_FALSE(std::filesystem::exists(Path));
  EXPECT_FALSE(Sim.Plugged());
  Sim.Replug();
  int Fd = OpenPty(Path);
  ASSERT_GE(Fd, 0);
  EXPECT_EQ(Exchange(Fd, "a\n", 5, 1000), "ok:a\n");
  Sim.DropLink(0); // deaf and silent until restored
  EXPECT_EQ(Exchange(Fd, "b\n", 1, 150), "");
  Sim.RestoreLink();
  EXPECT_EQ(Exchange(Fd, "c\n", 5, 1000), "ok:c\n");
  EXPECT_EQ(Sim.Requests().size(), 2U);
  ::close(Fd);
  Sim.Stop();
  EXPECT_FALSE(std::filesystem::exists(Path));
}

TEST(SimEndpoint, TcpDropRefusesAndPullLeavesTheConnectionHanging) {
  sim::TSim<TLineModel> Sim;
  ASSERT_TRUE(Sim.StartTcp("127.0.61.1", 5999));
  int Fd = Connect("127.0.61.1", 5999);
  ASSERT_GE(Fd, 0);
  EXPECT_EQ(Exchange(Fd, "a\n", 5, 1000), "ok:a\n");
  Sim.DropLink(0);
  std::vector<std::uint8_t> In;
  EXPECT_FALSE(testing::ReadFdMin(Fd, In, 1, 1000)); // the peer closed
  ::close(Fd);
  EXPECT_LT(Connect("127.0.61.1", 5999), 0);
  Sim.RestoreLink();
  Fd = Connect("127.0.61.1", 5999);
  ASSERT_GE(Fd, 0);
  ASSERT_EQ(Exchange(Fd, "b\n", 5, 1000), "ok:b\n");
  Sim.PullCable(0);
  EXPECT_TRUE(Sim.Unreachable());
  EXPECT_EQ(Exchange(Fd, "c\n", 1, 200), ""); // open, but nobody answers
  EXPECT_LT(Connect("127.0.61.1", 5999), 0);
  Sim.RestoreLink(); // the cable is back: the dead connection is closed
  EXPECT_FALSE(testing::ReadFdMin(Fd, In, 1, 1000));
  ::close(Fd);
  EXPECT_EQ(Sim.ConnectCount(), 2);
  EXPECT_FALSE(Sim.Unreachable());
}

TEST(SimEndpoint, CommandLineOfTheStandaloneSimulator) {
  sim::TSim<TLineModel> Sim;
  ASSERT_TRUE(Sim.StartPty());
  const int Fd = OpenPty(Sim.DevicePath());
  EXPECT_EQ(Sim.Command("raw 41 0a"), "ok");
  EXPECT_EQ(Exchange(Fd, "", 2, 1000), "A\n");
  EXPECT_EQ(Sim.Command("ping"), "pong");
  EXPECT_EQ(Sim.Command("short 2"), "ok");
  EXPECT_EQ(Exchange(Fd, "x\n", 3, 300), "ok");
  EXPECT_NE(Sim.Command("help").find("ping                 answers pong"), std::string::npos);
  EXPECT_NE(Sim.Command("state").find("link up, 1 requests"), std::string::npos);
  for (const char* Bad : {"bogus", "short -1", "raw zz", "drop soon"}) {
    EXPECT_THROW(Sim.Command(Bad), std::invalid_argument) << Bad;
  }
  ::close(Fd);
}

// Every simulator's help, row by row: each command runs with a valid argument of its
// synopsis and refuses a line short of its required words, and every on/off argument takes
// the same words with the same effect.
TEST(SimEndpoint, EveryHelpRowIsDispatchedAndOnOffWordsAreAlike) {
  // A valid word for each synopsis word the tables use.
  const std::map<std::string, std::string> Sample = {
      {"N", "3"},       {"MS", "20"},     {"HEX...", "41 0D"}, {"CODE", "0102"},   {"BIT", "1"},
      {"BITS", "0x2"},  {"WATTS", "8"},   {"M", "0"},          {"I", "11"},        {"V", "1"},
      {"TEXT", "x"},    {"TEXT...", "x"}, {"MNEMONIC", "STA"}, {"101|102", "101"}, {"COUNT", "2"},
      {"BYTES", "166"}, {"on|off", "on"}};
  for (const auto& Family : sim::SimFamilies()) {
    sim::TSimEndpoint Sim(Family.MakeModel({}));
    std::istringstream Help(Sim.Command("help"));
    std::vector<std::string> Lines;
    for (std::string L; std::getline(Help, L);) {
      Lines.push_back(L);
    }
    ASSERT_GT(Lines.size(), 15U) << Family.Name;
    EXPECT_EQ(Lines.back(), sim::OnOffWords);
    Lines.pop_back();
    for (const auto& Line : Lines) {
      const std::string Synopsis = Line.substr(0, Line.find("  "));
      std::vector<std::string> Words = sim::SplitWords(Synopsis);
      std::size_t OnOffAt = 0;
      bool Required = false;
      for (std::size_t I = 1; I < Words.size(); ++I) {
        const bool Optional = Words[I][0] == '[';
        const std::string W = Optional ? Words[I].substr(1, Words[I].size() - 2) : Words[I];
        Required = Required || !Optional;
        OnOffAt = W == "on|off" ? I : OnOffAt;
        ASSERT_TRUE(Sample.contains(W)) << Family.Name << ": no sample for " << W;
        Words[I] = Sample.at(W);
      }
      const auto Run = [&] {
        std::string L;
        for (const auto& X : Words) {
          L += X + " ";
        }
        return Sim.Command(L);
      };
      EXPECT_NO_THROW(Run()) << Family.Name << ": " << Line;
      if (Required) {
        EXPECT_THROW(Sim.Command(Words[0]), std::invalid_argument) << Family.Name << ": " << Line;
      }
      if (OnOffAt == 0) {
        continue;
      }
      for (const auto& Same :
           {std::vector<std::string>{"on", "1", "true"}, {"off", "0", "false"}}) {
        Words[OnOffAt] = Same[0];
        const std::string Reply = Run();
        for (const auto& Word : Same) {
          Words[OnOffAt] = Word;
          EXPECT_EQ(Run(), Reply) << Family.Name << ": " << Line;
        }
      }
      Words[OnOffAt] = "maybe";
      EXPECT_THROW(Run(), std::invalid_argument) << Family.Name << ": " << Line;
    }
  }
}

} // namespace
} // namespace nclaser
