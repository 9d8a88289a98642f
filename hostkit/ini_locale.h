// A locale resource read from an INI file: [Section] headers, Key=Value lines, ';' or '#'
// comments, UTF-8 (a BOM is skipped). Values keep inner blanks; "\n" in a value is not
// interpreted.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "host/appsys.h"

namespace nclaser::hostkit {

class TIniLocale : public TKdLocaleResource {
public:
  // Replaces the texts with those of the file; false (texts unchanged) when it cannot be
  // read. Error gets the reason.
  bool LoadFromFile(const std::string& Path, std::string* Error = nullptr);
  void LoadFromString(const std::string& Text);
  void Clear();

  bool GetLoaded() const override;
  void ReadStr(const std::string& Section, const std::string& Key, std::string& Value) override;

private:
  mutable std::mutex FLock;
  bool FLoaded = false;
  std::map<std::string, std::map<std::string, std::string>> FSections;
};

} // namespace nclaser::hostkit
