#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <tuple>

#include "host/sametext.h"

namespace nclaser {
namespace {

// Only ASCII letters fold, whatever the process locale: under a Turkish locale the C
// library lowers 'I' to a dotless i, and a Latin-1 one folds bytes of UTF-8 sequences.
TEST(SameText, FoldsAsciiLettersOnlyUnderAnyLocale) {
  const std::string Saved = std::setlocale(LC_ALL, nullptr);
  const char* Used = nullptr;
  for (const char* Name :
       {"tr_TR.ISO-8859-9", "tr_TR.UTF-8", "de_DE.ISO-8859-1", "de_DE.UTF-8", "de_DE.utf8"}) {
    if (std::setlocale(LC_ALL, Name) != nullptr) {
      Used = Name;
      break;
    }
  }
  if (Used == nullptr) {
    GTEST_SKIP() << "no Turkish or German locale on this machine";
  }
  SCOPED_TRACE(Used);
  // Rows: equal ignoring ASCII case; a dotless i, A/a with diaeresis (not ASCII), and
  // pairs that differ in the case bit without being letters are not.
  const std::tuple<const char*, const char*, bool> Rows[] = {{"ResetErrors", "RESETERRORS", true},
                                                             {"Trumpf", "tRUMPF", true},
                                                             {"IPG", "ipg", true},
                                                             {"ResetErrors", "ResetError", false},
                                                             {"I", "\xC4\xB1", false},
                                                             {"\xC3\x84", "\xC3\xA4", false},
                                                             {"[", "{", false},
                                                             {"@", "`", false},
                                                             {"", "", true}};
  for (const auto& [A, B, Same] : Rows) {
    EXPECT_EQ(SameText(A, B), Same) << '"' << A << "\" vs \"" << B << '"';
  }
  std::setlocale(LC_ALL, Saved.c_str());
}

} // namespace
} // namespace nclaser
