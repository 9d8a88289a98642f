// The command tables of `nclaser sim`: each command a simulator takes on its standard input
// is one row (name, argument synopsis, help, handler). The endpoint has a table of link
// faults and each model adds its own; `help` prints the rows and dispatch reads the same
// rows, so the two cannot drift apart. The argument parsers every handler uses live here
// too, so a word means the same in every command.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nclaser::sim {

// One command. Args is the synopsis the help shows and dispatch checks the word count
// against: words in capitals are required, [X] is optional, a last word ending in "..."
// takes any number of further words. Run gets the whole line split into words (Words[0] is
// the name), returns the reply for the user (may be empty) and throws std::invalid_argument
// with a message on bad arguments.
struct TSimCommand {
  std::string Name;
  std::string Args;
  std::string Help;
  std::function<std::string(const std::vector<std::string>& Words)> Run;
};
using TSimCommands = std::vector<TSimCommand>;

// The synopsis of an on/off argument, and the words it takes.
inline constexpr const char* OnOffArgs = "on|off";
inline constexpr const char* OnOffWords =
    "on|off takes on, 1, true or off, 0, false; [on|off] left out is on";

// The one on/off parser: on/1/true or off/0/false; throws naming the command Name otherwise.
bool ParseOnOff(const std::string& Word, const std::string& Name);
// Words[Index] as on/off; Default when the line has no such word (dispatch has checked the
// count against the synopsis, so only an optional [on|off] can be missing).
bool OnOffArg(const std::vector<std::string>& Words, std::size_t Index, bool Default = true);

// A number given to a simulator's command or option (decimal, or hex with 0x; Base 16 reads
// bare hex); throws std::invalid_argument naming What when Text is not one.
long ParseSimInt(const std::string& Text, const char* What, int Base = 0);
double ParseSimNumber(const std::string& Text, const char* What);
// A whole number from 0 to Max (decimal, or hex with 0x; Base 16 reads bare hex) given as
// What; throws naming What and the range otherwise.
unsigned long ParseSimBounded(const std::string& Text, unsigned long Max, const std::string& What,
                              int Base = 0);

// The help line of a row: name and synopsis in a column, two blanks, then the help.
std::string HelpLine(const TSimCommand& Row);
// Runs the row of Rows named Words[0] after checking the word count against its synopsis;
// nullopt when no row has that name.
std::optional<std::string> RunCommand(const TSimCommands& Rows,
                                      const std::vector<std::string>& Words);
// The line split at blanks.
std::vector<std::string> SplitWords(const std::string& Line);

} // namespace nclaser::sim
