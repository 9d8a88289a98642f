// Which shipped locale file the tool loads when --locale is not given.
#pragma once

#include <string>
#include <vector>

namespace nclaser::cli {

// The language of the environment's messages (LC_ALL, else LC_MESSAGES, else LANG) as
// "de_DE"; empty for the C and POSIX locales or when none is set.
std::string EnvironmentLanguage();

// The locale file for Language from the first of Dirs that holds one: LANG.ini ("de_DE"),
// then the language alone ("de"), else English (en.ini). Chinese is the built-in text and
// needs no file. Empty when nothing is found or no file is needed.
std::string PickLocaleFile(const std::string& Language, const std::vector<std::string>& Dirs);

// The directories the tool looks in: the installed share/nclaser/locale next to the
// program's prefix, then the source tree's locale/ (for the tool in the build tree).
std::vector<std::string> LocaleDirs();

// PickLocaleFile(EnvironmentLanguage(), LocaleDirs()).
std::string DefaultLocaleFile();

} // namespace nclaser::cli
