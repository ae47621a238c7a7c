// The program's messages: every warning and error is one line on standard
// error, starting "tessarvander: ", with control characters made visible so
// that nothing from outside can scramble the terminal.
#pragma once

#include <string>

namespace tool {

// "tessarvander: <message>" on standard error, made printable: one line,
// whatever the message holds.
void Warn(const std::string& message);

// The text with every control character (C0, DEL and C1), every format
// control (bidirectional overrides and isolates, zero-width characters) and
// every byte that is not part of a well-formed UTF-8 character written as
// \xNN, and at
// most `limit` bytes of it. Everything from outside (file names, preset
// names, ports, devices, OSC addresses) reaches the terminal, the panel and
// the window title only through this.
std::string Printable(const std::string& text, size_t limit = 200);

}  // namespace tool
