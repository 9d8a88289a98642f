// Reads a VCD trace back for the tests: the changes of one signal after its initial value.
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace nclaser::testing {

// (time in the trace's unit, value) of every change of the signal Name, in file order.
inline std::vector<std::pair<long long, double>> VcdChanges(const std::string& Text,
                                                            const std::string& Name) {
  std::vector<std::pair<long long, double>> Out;
  std::istringstream In(Text);
  std::string Tok, Id;
  long long Time = 0;
  bool Defs = true;
  bool Dump = false;
  while (In >> Tok) {
    if (Defs) {
      std::string Type, Width, VarId, Var;
      if (Tok == "$var" && In >> Type >> Width >> VarId >> Var && Var == Name) {
        Id = VarId;
      }
      Defs = Tok != "$enddefinitions";
    } else if (Tok == "$dumpvars" || Tok == "$end") {
      Dump = Tok == "$dumpvars";
    } else if (Tok[0] == '#') {
      Time = std::stoll(Tok.substr(1));
    } else {
      std::string Of = Tok.substr(1);
      if (Tok[0] == 'r') {
        In >> Of;
      }
      if (!Dump && !Id.empty() && Of == Id) {
        Out.emplace_back(Time, Tok[0] == 'r' ? std::stod(Tok.substr(1)) : Tok[0] == '1' ? 1 : 0);
      }
    }
  }
  return Out;
}

} // namespace nclaser::testing
