// The command tables: the argument parsers, the row dispatch and the endpoint's own rows.
#include "sim/commands.h"

#include <charconv>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "host/clock.h"
#include "sim/endpoint.h"

namespace nclaser::sim {

namespace {

// Name and synopsis take this many columns in the help, and are two blanks at least from
// the help text.
constexpr std::size_t HelpColumn = 21;

// Words[Index] as a count (a whole number, 0 or more); Default when the line has none.
int CountArg(const std::vector<std::string>& Words, std::size_t Index, int Default) {
  if (Index >= Words.size()) {
    return Default;
  }
  const std::string& T = Words[Index];
  int V = 0;
  const auto [P, Ec] = std::from_chars(T.data(), T.data() + T.size(), V);
  if (Ec != std::errc() || P != T.data() + T.size() || V < 0) {
    throw std::invalid_argument(Words[0] + ": \"" + T + "\" is not a count");
  }
  return V;
}

} // namespace

bool ParseOnOff(const std::string& Word, const std::string& Name) {
  if (Word == "on" || Word == "1" || Word == "true") {
    return true;
  }
  if (Word == "off" || Word == "0" || Word == "false") {
    return false;
  }
  throw std::invalid_argument(Name + ": \"" + Word + "\" is not on or off (" + OnOffWords + ")");
}

bool OnOffArg(const std::vector<std::string>& Words, std::size_t Index, bool Default) {
  return Index < Words.size() ? ParseOnOff(Words[Index], Words.at(0)) : Default;
}

long ParseSimInt(const std::string& Text, const char* What, int Base) {
  try {
    std::size_t End = 0;
    const long V = std::stol(Text, &End, Base);
    if (End == Text.size()) {
      return V;
    }
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(std::string("bad ") + What + ": " + Text);
}

unsigned long ParseSimBounded(const std::string& Text, unsigned long Max, const std::string& What,
                              int Base) {
  try {
    std::size_t End = 0;
    const unsigned long V = std::stoul(Text, &End, Base);
    if (End == Text.size() && Text[0] != '-' && V <= Max) {
      return V;
    }
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(What + ": a number from 0 to " + std::to_string(Max));
}

double ParseSimNumber(const std::string& Text, const char* What) {
  try {
    std::size_t End = 0;
    const double V = std::stod(Text, &End);
    if (End == Text.size() && std::isfinite(V)) {
      return V;
    }
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(std::string("bad ") + What + ": " + Text);
}

std::vector<std::string> SplitWords(const std::string& Line) {
  std::istringstream In(Line);
  std::vector<std::string> W;
  for (std::string T; In >> T;) {
    W.push_back(T);
  }
  return W;
}

std::string HelpLine(const TSimCommand& Row) {
  std::string S = Row.Name + (Row.Args.empty() ? "" : " " + Row.Args);
  S.resize(std::max(S.size() + 2, HelpColumn), ' ');
  return S + Row.Help;
}

std::optional<std::string> RunCommand(const TSimCommands& Rows,
                                      const std::vector<std::string>& Words) {
  if (Words.empty()) {
    return std::nullopt;
  }
  for (const auto& Row : Rows) {
    if (Row.Name != Words[0]) {
      continue;
    }
    const auto Args = SplitWords(Row.Args);
    std::size_t Required = 0;
    for (const auto& A : Args) {
      Required += A.starts_with('[') ? 0 : 1;
    }
    const bool Open = !Args.empty() && Args.back().find("...") != std::string::npos;
    const std::size_t Given = Words.size() - 1;
    if (Given < Required || (!Open && Given > Args.size())) {
      throw std::invalid_argument("usage: " + Row.Name + (Row.Args.empty() ? "" : " ") + Row.Args);
    }
    return Row.Run(Words);
  }
  return std::nullopt;
}

// ---- The endpoint's table --------------------------------------------------------------

TSimCommands TSimEndpoint::Commands() {
  const auto Ok = [](auto Fn) {
    return [Fn](const std::vector<std::string>& W) {
      Fn(W);
      return std::string("ok");
    };
  };
  using TWords = const std::vector<std::string>&;
  return {
      {"help", "", "this list (? too)",
       [this](TWords) {
         std::string S;
         for (const auto& H : CommandHelp()) {
           S += H + "\n";
         }
         return S;
       }},
      {"state", "", "what the laser and the link are doing",
       [this](TWords) { return StateText(); }},
      {"silence", "[on|off]", "answer nothing (requests are still followed)",
       Ok([this](TWords W) { SetSilent(OnOffArg(W, 1)); })},
      {"garbage", "[on|off]", "random bytes instead of each answer",
       Ok([this](TWords W) { SetGarbage(OnOffArg(W, 1)); })},
      {"short", "[N]", "only the first N bytes of each answer (0: whole)",
       Ok([this](TWords W) { SetTruncate(static_cast<std::size_t>(CountArg(W, 1, 0))); })},
      {"split", "[N] [MS]", "answers in pieces of N bytes, MS apart (0: whole)",
       Ok([this](TWords W) {
         SetSplit(static_cast<std::size_t>(CountArg(W, 1, 1)), CountArg(W, 2, 20));
       })},
      {"join", "[on|off]", "each answer held back and sent with the next",
       Ok([this](TWords W) { SetJoin(OnOffArg(W, 1)); })},
      {"delay", "[MS]", "answers MS after their request",
       Ok([this](TWords W) { SetDelay(CountArg(W, 1, 0)); })},
      {"raw", "HEX...", "send bytes now, e.g. raw 41 0D", Ok([this](TWords W) {
         std::string Hex;
         for (std::size_t I = 1; I < W.size(); ++I) {
           Hex += W[I] + " ";
         }
         const auto B = ParseHex(Hex);
         if (!B || B->empty()) {
           throw std::invalid_argument("raw: give the bytes in hex, e.g. raw 41 0D");
         }
         SendRaw(*B);
       })},
      {"drop", "[MS]", "drop the link (TCP: close and refuse; pty: deaf) for MS or until restore",
       Ok([this](TWords W) { DropLink(CountArg(W, 1, 0)); })},
      {"pull", "[MS]", "pull the cable: silent, connection left hanging, until restore",
       Ok([this](TWords W) { PullCable(CountArg(W, 1, 0)); })},
      {"restore", "", "end drop and pull", Ok([this](TWords) { RestoreLink(); })},
      {"unplug", "", "pty: the port hangs up and its path disappears",
       Ok([this](TWords) { Unplug(); })},
      {"replug", "", "pty: the port and its path come back", Ok([this](TWords) { Replug(); })},
      {"quit", "", "stop the simulator",
       [this](TWords) {
         Stop();
         return std::string("stopped");
       }},
  };
}

std::vector<std::string> TSimEndpoint::CommandHelp() {
  std::vector<std::string> H;
  for (const auto& Row : Commands()) {
    H.push_back(HelpLine(Row));
  }
  std::lock_guard<std::mutex> L(FLock);
  for (const auto& Row : FModel->Commands()) {
    H.push_back(HelpLine(Row));
  }
  H.emplace_back(OnOffWords);
  return H;
}

std::string TSimEndpoint::StateText() {
  std::lock_guard<std::mutex> L(FLock);
  const double Now = NowMs();
  std::string S = FModel->StateLine();
  S += std::string(S.empty() ? "" : "; ") + "link " +
       (FUnplugged            ? "unplugged"
        : CableOut(Now)       ? "cable out"
        : Down(Now)           ? "down"
        : FTcp && FClient < 0 ? "waiting for a client"
                              : "up") +
       ", " + std::to_string(FRequests.size()) + " requests";
  return S;
}

std::string TSimEndpoint::Command(const std::string& Line) {
  std::vector<std::string> W = SplitWords(Line);
  if (W.empty()) {
    return {};
  }
  if (W[0] == "?") {
    W[0] = "help";
  }
  if (auto R = RunCommand(Commands(), W)) {
    return *R;
  }
  std::optional<std::string> R;
  {
    std::lock_guard<std::mutex> L(FLock);
    R = FModel->Command(W);
  }
  if (!R) {
    throw std::invalid_argument("unknown command \"" + W[0] + "\" (help lists them)");
  }
  return *R;
}

} // namespace nclaser::sim
