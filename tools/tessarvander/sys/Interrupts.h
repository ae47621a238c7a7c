// Ctrl-C and SIGTERM set a flag that long loops check, so that the program
// finishes or cleans up its output instead of dying half-way; a broken pipe
// becomes a write error instead of killing the process.
#pragma once

namespace cli {

void InstallInterruptHandlers();
bool Interrupted();

}  // namespace cli
