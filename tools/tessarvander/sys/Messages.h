// The program's messages: every warning and error is one line on standard
// error, starting "tessarvander: ", with control characters made visible so
// that nothing from outside can scramble the terminal.
#pragma once

#include <string>

namespace tool {

// "tessarvander: <message>" on standard error, for what goes wrong but lets
// the work go on.
void Warn(const std::string& message);

// The text with every control character and non-UTF-8 byte written as \xNN,
// and at most `limit` bytes of it.
std::string Printable(const std::string& text, size_t limit = 200);

}  // namespace tool
