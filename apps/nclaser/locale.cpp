#include "apps/nclaser/locale.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace nclaser::cli {

namespace fs = std::filesystem;

std::string EnvironmentLanguage() {
  std::string Value;
  for (const char* Name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* V = std::getenv(Name);
    if (V != nullptr && *V != '\0') {
      Value = V;
      break;
    }
  }
  // "de_DE.UTF-8@euro" -> "de_DE"
  Value = Value.substr(0, Value.find_first_of(".@"));
  if (Value == "C" || Value == "POSIX") {
    return {};
  }
  return Value;
}

std::string PickLocaleFile(const std::string& Language, const std::vector<std::string>& Dirs) {
  const std::string Lang = Language.substr(0, Language.find('_'));
  if (Lang == "zh") {
    return {};
  }
  std::vector<std::string> Names;
  if (!Language.empty()) {
    Names.push_back(Language + ".ini");
  }
  if (!Lang.empty() && Lang != Language) {
    Names.push_back(Lang + ".ini");
  }
  Names.emplace_back("en.ini");
  for (const auto& Name : Names) {
    for (const auto& Dir : Dirs) {
      std::error_code Ec;
      const fs::path P = fs::path(Dir) / Name;
      if (fs::is_regular_file(P, Ec)) {
        return P.string();
      }
    }
  }
  return {};
}

std::vector<std::string> LocaleDirs() {
  std::vector<std::string> Dirs;
#ifdef NCLASER_LOCALE_DIRS
  std::error_code Ec;
  const fs::path Exe = fs::read_symlink("/proc/self/exe", Ec);
  std::istringstream In(NCLASER_LOCALE_DIRS);
  std::string Dir;
  while (std::getline(In, Dir, ':')) {
    if (fs::path(Dir).is_relative()) {
      if (Ec) {
        continue;
      }
      Dir = (Exe.parent_path() / Dir).lexically_normal().string();
    }
    Dirs.push_back(Dir);
  }
#endif
  return Dirs;
}

std::string DefaultLocaleFile() {
  return PickLocaleFile(EnvironmentLanguage(), LocaleDirs());
}

} // namespace nclaser::cli
