#include "hostkit/ini_locale.h"

#include <fstream>
#include <sstream>

namespace nclaser::hostkit {

namespace {

std::string Trim(const std::string& S) {
  const auto B = S.find_first_not_of(" \t\r\n");
  if (B == std::string::npos) {
    return {};
  }
  const auto E = S.find_last_not_of(" \t\r\n");
  return S.substr(B, E - B + 1);
}

} // namespace

bool TIniLocale::LoadFromFile(const std::string& Path, std::string* Error) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) {
    if (Error != nullptr) {
      *Error = "cannot open " + Path;
    }
    return false;
  }
  std::stringstream SS;
  SS << In.rdbuf();
  LoadFromString(SS.str());
  return true;
}

void TIniLocale::LoadFromString(const std::string& TextIn) {
  std::string Text = TextIn;
  if (Text.rfind("\xEF\xBB\xBF", 0) == 0) {
    Text.erase(0, 3);
  }
  std::map<std::string, std::map<std::string, std::string>> Sections;
  std::istringstream In(Text);
  std::string Line;
  std::string Section;
  while (std::getline(In, Line)) {
    const std::string T = Trim(Line);
    if (T.empty() || T[0] == ';' || T[0] == '#') {
      continue;
    }
    if (T.front() == '[' && T.back() == ']') {
      Section = Trim(T.substr(1, T.size() - 2));
      continue;
    }
    const auto Eq = T.find('=');
    if (Eq == std::string::npos) {
      continue;
    }
    // Values keep their leading blank when quoted: " 激光器报警" needs it.
    std::string Value = Trim(T.substr(Eq + 1));
    if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"') {
      Value = Value.substr(1, Value.size() - 2);
    }
    Sections[Section][Trim(T.substr(0, Eq))] = Value;
  }
  std::lock_guard<std::mutex> L(FLock);
  FSections = std::move(Sections);
  FLoaded = true;
}

void TIniLocale::Clear() {
  std::lock_guard<std::mutex> L(FLock);
  FSections.clear();
  FLoaded = false;
}

bool TIniLocale::GetLoaded() const {
  std::lock_guard<std::mutex> L(FLock);
  return FLoaded;
}

void TIniLocale::ReadStr(const std::string& Section, const std::string& Key, std::string& Value) {
  std::lock_guard<std::mutex> L(FLock);
  const auto S = FSections.find(Section);
  if (S == FSections.end()) {
    return;
  }
  const auto K = S->second.find(Key);
  if (K != S->second.end()) {
    Value = K->second;
  }
}

} // namespace nclaser::hostkit
