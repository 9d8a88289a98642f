#include <gtest/gtest.h>

#include <clocale>
#include <string>

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
  const struct {
    const char* A;
    const char* B;
    bool Same;
  } Rows[] = {
      {"ResetErrors", "RESETERRORS", true},
      {"ResetErrors", "reseterrors", true},
      {"Trumpf", "tRUMPF", true},
      {"IPG", "ipg", true},
      {"ResetErrors", "ResetError", false},
      {"Trumpf", "Trumpf ", false},
      {"I", "\xC4\xB1", false},        // dotless i
      {"\xC3\x84", "\xC3\xA4", false}, // A and a with diaeresis: not ASCII
      {"[", "{", false},
      {"@", "`", false},
      {"", "", true},
  };
  for (const auto& R : Rows) {
    EXPECT_EQ(SameText(R.A, R.B), R.Same) << '"' << R.A << "\" vs \"" << R.B << '"';
  }
  std::setlocale(LC_ALL, Saved.c_str());
}

} // namespace
} // namespace nclaser
