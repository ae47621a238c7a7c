// A QR code of a text (the remote's address) as lines for a terminal: two
// rows of modules a line in half blocks, black on white (set by ANSI colours)
// with the quiet zone the standard asks for, so a phone's camera opens the
// remote from the terminal of the machine that plays.
#pragma once

#include <string>
#include <vector>

namespace tool {

// Empty when the text cannot be encoded (longer than a QR code holds).
std::vector<std::string> QrCodeLines(const std::string& text);

}  // namespace tool
