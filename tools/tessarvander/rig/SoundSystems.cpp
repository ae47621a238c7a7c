#include "rig/SoundSystems.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <mutex>

namespace tool {
namespace {

void QuietJack(const char*) {}
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void QuietSoundSystems() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
    snd_lib_error_set_handler(QuietAlsa);
  });
}

bool AlsaSequencerAvailable() {
  QuietSoundSystems();
  snd_seq_t* sequencer = nullptr;
  if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_INPUT, 0) < 0) return false;
  snd_seq_close(sequencer);
  return true;
}

bool JackServerRunning() {
  QuietSoundSystems();
  jack_status_t status;
  jack_client_t* client = jack_client_open("tessarvander probe", JackNoStartServer, &status);
  if (!client) return false;
  jack_client_close(client);
  return true;
}

}  // namespace tool
