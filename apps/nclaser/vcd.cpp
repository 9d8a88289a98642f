#include "apps/nclaser/vcd.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <string>

namespace nclaser::cli {

namespace {

using hostkit::TIoKind;

struct TSignal {
  std::string Name;
  bool Real;
  std::string Id;
  double Last = 0.0;
};

// Identifiers from the printable range '!'..'~'.
std::string MakeId(std::size_t Index) {
  std::string Id;
  do {
    Id += static_cast<char>('!' + Index % 94);
    Index /= 94;
  } while (Index > 0);
  return Id;
}

std::string Real(double V) {
  char Buf[64];
  const auto R = std::to_chars(Buf, Buf + sizeof(Buf), V);
  return std::string(Buf, R.ptr);
}

std::string Value(const TSignal& S, double V) {
  if (S.Real) {
    return "r" + Real(V) + " " + S.Id;
  }
  return (V != 0.0 ? "1" : "0") + S.Id;
}

// A sort key that keeps outputs, inputs, analog outputs and the PWM signals apart and ports
// in numeric order.
std::pair<int, int> Key(TIoKind K, int Port) {
  return {static_cast<int>(K), Port};
}

} // namespace

void WriteVcd(std::ostream& Out, const std::vector<hostkit::TIoEvent>& Events,
              const std::set<int>& InputsRead, double StartMs, double EndMs) {
  std::map<std::pair<int, int>, TSignal> Sig;
  auto Ensure = [&](TIoKind K, int Port) {
    const auto Ky = Key(K, Port);
    if (Sig.count(Ky) != 0) {
      return;
    }
    TSignal S;
    switch (K) {
    case TIoKind::Output:
      S = {"out" + std::to_string(Port), false, ""};
      break;
    case TIoKind::Input:
      S = {"in" + std::to_string(Port), false, ""};
      break;
    case TIoKind::DA:
      S = {"da" + std::to_string(Port), true, ""};
      break;
    case TIoKind::PwmOn:
      S = {"pwm_on", false, ""};
      break;
    case TIoKind::PwmFreq:
      S = {"pwm_freq", true, ""};
      break;
    case TIoKind::PwmRatio:
      S = {"pwm_ratio", true, ""};
      break;
    }
    Sig[Ky] = S;
  };
  // The lasers use PWM channel 1 only.
  auto Shown = [](const hostkit::TIoEvent& E) {
    const bool Pwm =
        E.Kind == TIoKind::PwmOn || E.Kind == TIoKind::PwmFreq || E.Kind == TIoKind::PwmRatio;
    return !Pwm || E.Port == 1;
  };
  for (const auto& E : Events) {
    if (Shown(E)) {
      Ensure(E.Kind,
             E.Kind == TIoKind::PwmOn || E.Kind == TIoKind::PwmFreq || E.Kind == TIoKind::PwmRatio
                 ? 1
                 : E.Port);
    }
  }
  for (const int P : InputsRead) {
    Ensure(TIoKind::Input, P);
  }
  Ensure(TIoKind::PwmOn, 1);
  Ensure(TIoKind::PwmFreq, 1);
  Ensure(TIoKind::PwmRatio, 1);
  std::size_t Index = 0;
  for (auto& [K, S] : Sig) {
    S.Id = MakeId(Index++);
  }

  Out << "$version nclaser $end\n";
  Out << "$timescale 1us $end\n";
  Out << "$scope module nclaser $end\n";
  for (const auto& [K, S] : Sig) {
    Out << "$var " << (S.Real ? "real 64 " : "wire 1 ") << S.Id << ' ' << S.Name << " $end\n";
  }
  Out << "$upscope $end\n";
  Out << "$enddefinitions $end\n";
  Out << "#0\n$dumpvars\n";
  for (const auto& [K, S] : Sig) {
    Out << Value(S, 0.0) << '\n';
  }
  Out << "$end\n";

  long long Now = 0;
  auto Us = [&](double Ms) {
    const double D = std::nearbyint((Ms - StartMs) * 1000.0);
    return std::max(Now, D > 0 ? static_cast<long long>(D) : 0LL);
  };
  for (const auto& E : Events) {
    if (!Shown(E)) {
      continue;
    }
    const bool Pwm =
        E.Kind == TIoKind::PwmOn || E.Kind == TIoKind::PwmFreq || E.Kind == TIoKind::PwmRatio;
    auto& S = Sig[Key(E.Kind, Pwm ? 1 : E.Port)];
    const double V = S.Real ? E.Value : (E.Value != 0.0 ? 1.0 : 0.0);
    if (V == S.Last) {
      continue;
    }
    const long long T = Us(E.TimeMs);
    if (T != Now) {
      Now = T;
      Out << '#' << T << '\n';
    }
    S.Last = V;
    Out << Value(S, V) << '\n';
  }
  const long long End = Us(EndMs);
  if (End > Now) {
    Out << '#' << End << '\n';
  }
}

} // namespace nclaser::cli
