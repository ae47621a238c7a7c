// MIDI inputs through RtMidi, from the ALSA sequencer and JACK: one port
// whose name contains the given text, or every input. Messages arrive on
// RtMidi's threads, are stamped with the steady clock at once (the MIDI
// clock's tempo needs their true times) and wait, at most kPending of them,
// until the frame loop drains them. The ports are looked for again every two
// seconds: one plugged in later is opened, one that vanished is said once
// and opened again when it returns.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tool {

struct MidiBytes {
  double at = 0.0;  // SteadySeconds() on arrival
  uint8_t bytes[3] = {0, 0, 0};
  uint8_t size = 0;  // 0: longer than any message mapped
};

class MidiInput {
 public:
  static constexpr size_t kPending = 4096;
  static constexpr double kWatchSeconds = 2.0;

  MidiInput();
  ~MidiInput();
  // `port`: part of a port's name, or empty for every input. A system (a
  // JACK server) or a port not there yet is waited for, said in `lines`;
  // false with one line only when RtMidi was built without ALSA and JACK.
  bool Open(const std::string& port, std::vector<std::string>& lines, std::string& error);
  // Every message since the last call, in arrival order; `dropped` counts
  // those beyond kPending.
  void Drain(std::vector<MidiBytes>& messages, long& dropped);
  // Opens ports that appeared, closes those that vanished; what changed goes
  // to `lines`. Cheap between watches.
  void Watch(double now, std::vector<std::string>& lines);
  std::vector<std::string> OpenPorts() const;

  // Called on RtMidi's threads.
  void Receive(const unsigned char* bytes, size_t size);

 private:
  struct Port;
  struct System;
  void FindSystems();
  void Scan(std::vector<std::string>& lines);

  std::string wanted;
  std::vector<std::unique_ptr<System>> systems;
  std::vector<std::unique_ptr<Port>> ports;
  std::vector<std::string> vanished;
  double lastWatch = 0.0;
  std::mutex lock;
  std::vector<MidiBytes> pending;
  long droppedSince = 0;
};

}  // namespace tool
