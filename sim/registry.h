// A table of named rows that registers itself at start-up (from namespace-scope constants
// in each row's source file): the simulator table and the demo table.
#pragma once

#include <string>
#include <vector>

namespace nclaser::sim {

// TRow has a std::string Name. Not thread-safe: rows are added before main runs and only
// read afterwards.
template <class TRow> class TRegistry {
public:
  static void Add(TRow Row) {
    for (auto& R : Rows()) {
      if (R.Name == Row.Name) {
        R = std::move(Row); // a row of the same name is replaced
        return;
      }
    }
    Rows().push_back(std::move(Row));
  }
  static const std::vector<TRow>& All() { return Rows(); }
  static const TRow* Find(const std::string& Name) {
    for (const auto& R : Rows()) {
      if (R.Name == Name) {
        return &R;
      }
    }
    return nullptr;
  }

private:
  static std::vector<TRow>& Rows() {
    static std::vector<TRow> R;
    return R;
  }
};

} // namespace nclaser::sim
