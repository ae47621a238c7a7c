// Ctrl-C and SIGTERM set a flag that long loops check, so that the program
// finishes or cleans up its output instead of dying half-way; a broken pipe
// becomes a write error instead of killing the process.
#pragma once

namespace tool {

void InstallInterruptHandlers();
bool Interrupted();
// The interrupt was answered and the program goes on (a test that plays
// several shows in one process).
void ForgetInterrupt();

}  // namespace tool
