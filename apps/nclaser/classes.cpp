#include "apps/nclaser/classes.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "lasers/factory.h"

namespace nclaser::cli {

namespace {

// "eltIPG + ltYLRComm, ltYLRNet", "eltCO2", or how the class is chosen when it is no
// default.
std::string DefaultFor(const TLaserClassInfo& C) {
  if (C.DefaultFor == 0) {
    return C.ReadsDefParamsOnly() ? "(Class only; any LaserType)" : "(Class only)";
  }
  std::string Text(LaserTypeName(C.LaserType));
  const TMemberInfo* M = MemberOf(C.LaserType);
  if (M == nullptr || M->SubType == nullptr) {
    return Text;
  }
  const auto& Names = M->SubType->Enum->Names;
  for (unsigned I = 0; I < Names.size() && I < 32; ++I) {
    if ((C.DefaultFor & (1U << I)) != 0) {
      Text += (Text.find('+') == std::string::npos ? " + " : ", ") + std::string(Names[I]);
    }
  }
  return Text;
}

} // namespace

std::vector<std::string> ClassListing(const std::function<bool(const std::string&)>& Built) {
  auto Classes = LaserClasses();
  std::stable_sort(
      Classes.begin(), Classes.end(),
      [](const TLaserClassInfo& A, const TLaserClassInfo& B) { return A.Rank < B.Rank; });
  std::vector<std::string> Lines;
  std::ostringstream H;
  H << std::left << std::setw(21) << "CLASS" << std::setw(11) << "READS" << std::setw(7) << "BUILT"
    << "DEFAULT FOR";
  Lines.push_back(H.str());
  for (const auto& C : Classes) {
    std::ostringstream L;
    L << std::left << std::setw(21) << C.Name << std::setw(11) << C.ConfigMember() << std::setw(7)
      << (Built(C.Name) ? "yes" : "no") << DefaultFor(C);
    Lines.push_back(L.str());
  }
  return Lines;
}

} // namespace nclaser::cli
