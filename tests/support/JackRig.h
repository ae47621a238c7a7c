// A JACK server of a test's own (the dummy driver: no sound card, the clock
// of a real one) and a JACK client that plays a MIDI controller, a MIDI clock
// and sound into it. For the player's end-to-end tests and the soak.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"

namespace testsupport {

// A JACK server with the dummy driver: no sound card, the clock of a real one.
// Its name is always the same: JACK keeps servers' names in a registry of
// eight, and reclaims a stopped server's entry only for a server of the same
// name.
class JackServer {
 public:
  explicit JackServer(const std::filesystem::path& folder) : name("tessarvander-test") {
    setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);  // for the player
    // A client late by up to ten seconds (a busy machine) is waited for, not
    // thrown out.
    pid = testsupport::StartProgram({"/usr/bin/jackd", "--no-realtime", "--timeout", "10000", "-n", name, "-d",
                                     "dummy", "-r", "48000", "-p", "256"},
                                    (folder / "jackd.log").string());
  }
  ~JackServer() { Stop(); }
  // Stops the server answering without ending it (a server on its way out),
  // and lets it go on.
  void Pause() { kill(pid, SIGSTOP); }
  void Resume() { kill(pid, SIGCONT); }
  void Stop() {
    testsupport::StopProgram(pid);
    pid = -1;
  }
  const std::string name;

 private:
  int pid = -1;
};

// A JACK client of the test's own: a MIDI output (messages, or a clock at
// an exact tempo) and an audio output playing samples.
class Feeder {
 public:
  explicit Feeder(const std::string& server) {
    // Quiet while the server starts: libjack prints every failed attempt.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!client && std::chrono::steady_clock::now() < deadline) {
      jack_status_t status;
      client = jack_client_open("feeder", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                server.c_str());
      if (!client) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!client) return;
    midi = jack_port_register(client, "midi out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    audio = jack_port_register(client, "audio out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    rate = jack_get_sample_rate(client);
    jack_set_process_callback(client, Process, this);
    jack_activate(client);
  }
  ~Feeder() { Close(); }
  void Close() {
    if (client) jack_client_close(client);
    client = nullptr;
  }
  bool Ready() const { return client != nullptr; }
  void Send(std::vector<uint8_t> message) {
    std::lock_guard<std::mutex> hold(lock);
    messages.push_back(std::move(message));
  }
  void Clock(double beatsPerMinute) { pulseFrames = rate * 60.0 / beatsPerMinute / 24.0; }
  void Play(std::vector<float> sound) {
    std::lock_guard<std::mutex> hold(lock);
    samples = std::move(sound);
    played = 0;
  }
  double Rate() const { return rate; }
  // Frames the server has run through: the dummy driver's own clock, which
  // falls behind the wall clock on a busy machine.
  double Frames() const { return static_cast<double>(cycleFrames.load()); }
  // Waits until the server has run through `seconds` more of its own time;
  // false when it never does.
  bool WaitForServerTime(double seconds) {
    const double until = Frames() + seconds * rate;
    return WaitUntil([&] { return Frames() >= until; });
  }
  // Waits until everything given to Play has been played.
  bool WaitForPlayed() {
    return WaitUntil([&] { return played >= samples.size(); });
  }

 private:
  static int Process(jack_nframes_t frames, void* self) { return static_cast<Feeder*>(self)->Cycle(frames); }
  int Cycle(jack_nframes_t frames) {
    cycleFrames += frames;
    void* out = jack_port_get_buffer(midi, frames);
    jack_midi_clear_buffer(out);
    auto* sound = static_cast<float*>(jack_port_get_buffer(audio, frames));
    std::fill(sound, sound + frames, 0.0f);
    std::unique_lock<std::mutex> hold(lock, std::try_to_lock);
    if (!hold.owns_lock()) return 0;
    // Messages wait until this cycle's graph carries them to a listener: a
    // player says it listens once it asked for the connection, which the
    // server may make a cycle later, and a message written before is lost.
    if (jack_port_connected(midi) > 0) {
      for (const auto& message : messages) jack_midi_event_write(out, 0, message.data(), message.size());
      messages.clear();
    }
    // Clock pulses at their exact frames.
    if (pulseFrames > 0.0) {
      while (nextPulse < cycleStart + frames) {
        const uint8_t pulse = 0xF8;
        jack_midi_event_write(out, static_cast<jack_nframes_t>(nextPulse - cycleStart), &pulse, 1);
        nextPulse += pulseFrames;
      }
    }
    for (jack_nframes_t i = 0; i < frames && played < samples.size(); ++i) sound[i] = samples[played++];
    cycleStart += frames;
    return 0;
  }

  jack_client_t* client = nullptr;
  jack_port_t *midi = nullptr, *audio = nullptr;
  double rate = 48000.0;
  std::mutex lock;
  std::deque<std::vector<uint8_t>> messages;
  std::atomic<double> pulseFrames{0.0};
  double nextPulse = 0.0, cycleStart = 0.0;
  std::vector<float> samples;
  std::atomic<size_t> played{0};
  std::atomic<unsigned long long> cycleFrames{0};
};

}  // namespace testsupport
