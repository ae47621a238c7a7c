#include "sys/ShellQuote.h"

namespace tool {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ShellCommand(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) {
    const bool plain = !argument.empty() && argument.find_first_not_of(
                                                "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=.,:/@%") ==
                                                std::string::npos;
    line += (line.empty() ? "" : " ") + (plain ? argument : ShellQuoted(argument));
  }
  return line;
}

}  // namespace tool
