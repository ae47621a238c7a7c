// Live sound captured through RtAudio: from JACK (which PipeWire also
// serves) or ALSA. The capture thread mixes each buffer to mono into a ring
// of a few seconds; the frame loop takes what arrived. A ring that fills
// (a frame loop stalled) drops the oldest sound, never blocks the capture.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tool {

class AudioInput {
 public:
  static constexpr double kRingSeconds = 4.0;
  static constexpr unsigned kBufferFrames = 256;

  AudioInput();
  ~AudioInput();
  // `device`: part of a device's name, or empty for the first system's
  // default input (JACK when its server runs, else ALSA). False with one line.
  bool Open(const std::string& device, std::string& error);
  // What was opened, e.g. "system (JACK, 48000 Hz)".
  const std::string& Description() const { return description; }
  int SampleRate() const { return rate; }
  // The capture's own delay: its buffer and what the system reports.
  double LatencySeconds() const { return latencySeconds; }
  // The samples since the last call, oldest first; `lost` counts those the
  // ring dropped.
  void Take(std::vector<float>& samples, long& lost);
  // Seconds since the last sound arrived (a server that stopped).
  double SilentFor(double now) const;

  // Called on the capture thread.
  void Captured(const float* interleaved, unsigned frames);

 private:
  struct Stream;
  std::unique_ptr<Stream> stream;
  std::string description;
  int rate = 48000;
  double latencySeconds = 0.0;
  mutable std::mutex lock;
  std::vector<float> ring;
  size_t head = 0, count = 0;
  long lostSince = 0;
  double lastArrival = 0.0;
};

}  // namespace tool
