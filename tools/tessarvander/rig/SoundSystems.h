// The sound systems MIDI and live sound go through, asked politely: libjack
// and ALSA print their own complaints to the terminal (a server not
// running, no sequencer device), which would bury the player's one line. Their
// messages are silenced once, and each system is asked whether it is there
// before a library that would print on failure opens it.
#pragma once

namespace tool {

// Silences libjack's and ALSA's own printing; idempotent.
void QuietSoundSystems();
// Whether the ALSA sequencer can be opened (no /dev/snd/seq in a container).
bool AlsaSequencerAvailable();
// Whether a JACK server answers (the one JACK_DEFAULT_SERVER names).
bool JackServerRunning();

}  // namespace tool
