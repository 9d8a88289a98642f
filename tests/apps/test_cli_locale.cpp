// Which shipped locale file the tool takes from the environment's language.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "apps/nclaser/locale.h"

namespace nclaser::cli {
namespace {

namespace fs = std::filesystem;

TEST(CliLocale, TheLanguageThenItsCountryFreeFileThenEnglish) {
  const fs::path Root = fs::temp_directory_path() / ("nclaser-locale-" + std::to_string(getpid()));
  const fs::path Installed = Root / "share";
  const fs::path Source = Root / "src";
  fs::create_directories(Installed);
  fs::create_directories(Source);
  for (const auto& P : {Installed / "en.ini", Installed / "de.ini", Source / "en.ini",
                        Source / "pt_BR.ini", Source / "pt.ini"}) {
    std::ofstream(P) << "[Device_Strs]\n";
  }
  const std::vector<std::string> Dirs = {Installed.string(), Source.string()};
  const std::pair<std::string, fs::path> Cases[] = {
      {"de_DE", Installed / "de.ini"},
      {"de", Installed / "de.ini"},
      {"pt_BR", Source / "pt_BR.ini"},
      {"pt_PT", Source / "pt.ini"},
      {"fr_FR", Installed / "en.ini"},
      {"", Installed / "en.ini"},
      {"zh_CN", ""}, // the built-in texts are Chinese
  };
  for (const auto& [Lang, File] : Cases) {
    EXPECT_EQ(PickLocaleFile(Lang, Dirs), File.string()) << Lang;
  }
  EXPECT_EQ(PickLocaleFile("de_DE", {(Root / "none").string()}), "");
  fs::remove_all(Root);
}

TEST(CliLocale, LcAllThenLcMessagesThenLangWithoutEncoding) {
  const char* Names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::pair<std::string, std::string>> Saved;
  for (const char* N : Names) {
    const char* V = getenv(N);
    Saved.emplace_back(N, V != nullptr ? V : "");
  }
  struct TCase {
    const char* All;
    const char* Messages;
    const char* Lang;
    const char* Expected;
  };
  const TCase Cases[] = {
      {"", "", "de_DE.UTF-8", "de_DE"},
      {"", "fr_FR.UTF-8@euro", "de_DE", "fr_FR"},
      {"pt_BR", "fr_FR", "de_DE", "pt_BR"},
      {"C.UTF-8", "", "de_DE", ""},
      {"", "", "POSIX", ""},
      {"", "", "", ""},
  };
  for (const auto& C : Cases) {
    setenv("LC_ALL", C.All, 1);
    setenv("LC_MESSAGES", C.Messages, 1);
    setenv("LANG", C.Lang, 1);
    EXPECT_EQ(EnvironmentLanguage(), C.Expected) << C.All << "|" << C.Messages << "|" << C.Lang;
  }
  for (const auto& [N, V] : Saved) {
    setenv(N.c_str(), V.c_str(), 1);
  }
}

} // namespace
} // namespace nclaser::cli
