// A small VCD reader for the tests: the variables and every value change with its time.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace nclaser::testing {

struct TVcdVar {
  std::string Type; // "wire" or "real"
  int Width = 0;
  std::string Name;
};

struct TVcdChange {
  long long Time;
  std::string Name;
  double Value;
};

struct TVcd {
  std::string Timescale;
  std::map<std::string, TVcdVar> Vars;   // by identifier
  std::map<std::string, double> Initial; // by name, from $dumpvars
  std::vector<TVcdChange> Changes;       // after $dumpvars, in file order
  std::string Error;                     // empty when the file read cleanly

  std::vector<TVcdChange> Of(const std::string& Name) const {
    std::vector<TVcdChange> Out;
    for (const auto& C : Changes) {
      if (C.Name == Name) {
        Out.push_back(C);
      }
    }
    return Out;
  }
  bool Has(const std::string& Name) const {
    for (const auto& [Id, V] : Vars) {
      if (V.Name == Name) {
        return true;
      }
    }
    return false;
  }
};

inline TVcd ReadVcd(const std::string& Text) {
  TVcd V;
  std::istringstream In(Text);
  std::string Tok;
  long long Time = -1;
  bool InDump = false;
  bool Defs = true;
  auto Value = [&](const std::string& Id, double X) {
    const auto It = V.Vars.find(Id);
    if (It == V.Vars.end()) {
      V.Error = "change of unknown id " + Id;
      return;
    }
    if (InDump) {
      V.Initial[It->second.Name] = X;
    } else {
      V.Changes.push_back({Time, It->second.Name, X});
    }
  };
  while (In >> Tok) {
    if (Defs) {
      if (Tok == "$timescale") {
        std::string T;
        while (In >> T && T != "$end") {
          V.Timescale += T;
        }
      } else if (Tok == "$var") {
        TVcdVar Var;
        std::string Id, End;
        In >> Var.Type >> Var.Width >> Id >> Var.Name >> End;
        if (End != "$end") {
          V.Error = "bad $var";
        }
        V.Vars[Id] = Var;
      } else if (Tok == "$enddefinitions") {
        In >> Tok;
        Defs = false;
      } else if (Tok == "$version" || Tok == "$date" || Tok == "$scope" || Tok == "$upscope" ||
                 Tok == "$comment") {
        while (In >> Tok && Tok != "$end") {
        }
      } else {
        V.Error = "unexpected " + Tok;
      }
      continue;
    }
    if (Tok[0] == '#') {
      const long long T = std::stoll(Tok.substr(1));
      if (T < Time) {
        V.Error = "time goes back at " + Tok;
      }
      Time = T;
    } else if (Tok == "$dumpvars") {
      InDump = true;
    } else if (Tok == "$end") {
      InDump = false;
    } else if (Tok[0] == 'r') {
      std::string Id;
      In >> Id;
      Value(Id, std::stod(Tok.substr(1)));
    } else if (Tok[0] == '0' || Tok[0] == '1') {
      Value(Tok.substr(1), Tok[0] == '1' ? 1.0 : 0.0);
    } else {
      V.Error = "unexpected " + Tok;
    }
  }
  return V;
}

} // namespace nclaser::testing
