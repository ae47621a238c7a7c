#include "rig/AudioInput.h"

#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "rig/SoundSystems.h"
#include "sys/SteadyClock.h"
#include "sys/Messages.h"

namespace tool {
namespace {

constexpr const char* kStreamName = "tessarvander-audio";
constexpr unsigned kMostChannels = 2;

// Where the capture thread hands its sound. A stream left to the process's
// end may still call after its AudioInput is gone: the sink outlives it, and
// is emptied first.
struct Sink {
  std::mutex lock;
  AudioInput* to = nullptr;
};

int Arrived(void*, void* input, unsigned frames, double, RtAudioStreamStatus, void* user) {
  Sink& sink = *static_cast<Sink*>(user);
  std::unique_lock<std::mutex> hold(sink.lock, std::try_to_lock);  // busy only while it empties
  if (hold && sink.to && input) sink.to->Captured(static_cast<const float*>(input), frames);
  return 0;
}

// RtAudio prints what it reports unless given somewhere to say it; the
// player notices a stream that stops by the sound that stops arriving.
void Quietly(RtAudioError::Type, const std::string&) {}

// How long a stream may take to close before it is left to the process's
// end: libjack waits for its server's answer, and a server on its way out
// (stopped, not yet gone) never gives one.
constexpr std::chrono::milliseconds kLongestClose{1000};

// Streams not closed (their server went away or stopped answering) and
// their sinks, kept where the process can still see them (so a leak checker
// does not count them) and never destroyed.
std::vector<std::shared_ptr<void>>& LeftToTheEnd() {
  static auto* kept = new std::vector<std::shared_ptr<void>>;
  return *kept;
}

const char* SystemName(RtAudio::Api api) {
  switch (api) {
    case RtAudio::UNIX_JACK: return "JACK";
    case RtAudio::LINUX_ALSA: return "ALSA";
    case RtAudio::LINUX_PULSE: return "PulseAudio";
    default: return "audio";
  }
}

}  // namespace

struct AudioInput::Stream {
  std::unique_ptr<RtAudio> audio;
  std::shared_ptr<Sink> sink = std::make_shared<Sink>();
  unsigned channels = 1;
  bool jack = false;
};

AudioInput::AudioInput() = default;

AudioInput::~AudioInput() {
  if (!stream || !stream->audio) return;
  {
    std::lock_guard<std::mutex> hold(stream->sink->lock);
    stream->sink->to = nullptr;
  }
  // A JACK server that went away took the stream with it: RtAudio closes it
  // on a thread of its own, and libjack never returns from a second close of
  // a client whose server is gone. A server on its way out (stopped, not yet
  // gone) answers neither the probe nor the close. So the stream is closed on
  // a thread of its own, and one that is not closed in time, or whose server
  // went away, is left to the process's end.
  std::shared_ptr<RtAudio> audio(std::move(stream->audio));
  auto closing = std::make_shared<std::promise<bool>>();
  std::future<bool> closed = closing->get_future();
  std::thread closer([audio, closing, jack = stream->jack] {
    bool done = false;
    try {
      if (!jack || JackServerRunning()) {
        if (audio->isStreamRunning()) audio->stopStream();
        if (audio->isStreamOpen()) audio->closeStream();
        done = true;
      }
    } catch (...) {
    }
    closing->set_value(done);
  });
  if (closed.wait_for(kLongestClose) == std::future_status::ready) {
    closer.join();
    if (closed.get()) return;
  } else {
    closer.detach();
  }
  LeftToTheEnd().insert(LeftToTheEnd().end(), {audio, stream->sink});
}

bool AudioInput::Open(const std::string& device, std::string& error) {
  const RtAudio::Api order[] = {RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA, RtAudio::LINUX_PULSE};
  std::vector<RtAudio::Api> compiled;
  RtAudio::getCompiledApi(compiled);
  std::string seen;
  QuietSoundSystems();
  for (RtAudio::Api api : order) {
    if (std::find(compiled.begin(), compiled.end(), api) == compiled.end()) continue;
    if (api == RtAudio::UNIX_JACK && !JackServerRunning()) continue;
    try {
      auto audio = std::make_unique<RtAudio>(api);
      audio->showWarnings(false);
      const unsigned devices = audio->getDeviceCount();
      unsigned chosen = devices;
      for (unsigned i = 0; i < devices && chosen == devices; ++i) {
        const RtAudio::DeviceInfo info = audio->getDeviceInfo(i);
        if (!info.probed || info.inputChannels == 0) continue;
        if (device.empty() ? info.isDefaultInput || chosen == devices : info.name.find(device) != std::string::npos)
          chosen = i;
        if (!seen.empty() && seen.size() < 300) seen += ", ";
        if (seen.size() < 300) seen += info.name;
      }
      if (chosen == devices) continue;
      const RtAudio::DeviceInfo info = audio->getDeviceInfo(chosen);
      auto opened = std::make_unique<Stream>();
      opened->channels = std::min(kMostChannels, info.inputChannels);
      opened->jack = api == RtAudio::UNIX_JACK;
      RtAudio::StreamParameters input;
      input.deviceId = chosen;
      input.nChannels = opened->channels;
      RtAudio::StreamOptions options;
      options.streamName = kStreamName;
      options.flags = RTAUDIO_MINIMIZE_LATENCY;
      unsigned frames = kBufferFrames;
      const unsigned sampleRate = info.preferredSampleRate > 0 ? info.preferredSampleRate : 48000;
      opened->sink->to = this;
      stream = std::move(opened);
      audio->openStream(nullptr, &input, RTAUDIO_FLOAT32, sampleRate, &frames, Arrived, stream->sink.get(), &options,
                        Quietly);
      rate = static_cast<int>(audio->getStreamSampleRate());
      latencySeconds = static_cast<double>(frames + std::max(0L, audio->getStreamLatency())) / rate;
      {
        std::lock_guard<std::mutex> hold(lock);
        ring.assign(static_cast<size_t>(kRingSeconds * rate), 0.0f);
        head = count = 0;
        lastArrival = SteadySeconds();
      }
      stream->audio = std::move(audio);
      stream->audio->startStream();
      description = Printable(info.name, 80) + " (" + SystemName(api) + ", " + std::to_string(rate) + " Hz)";
      return true;
    } catch (...) {
      stream.reset();
      // This system is not here, or would not open the device: the next.
    }
  }
  error = "live audio: " +
          (device.empty() ? std::string("no input device answers (JACK, ALSA, PulseAudio)")
                          : "no input device named like \"" + Printable(device, 60) + "\"" +
                                (seen.empty() ? std::string() : " (there are: " + seen + ")"));
  return false;
}

void AudioInput::Captured(const float* interleaved, unsigned frames) {
  const unsigned channels = stream ? stream->channels : 1;
  std::lock_guard<std::mutex> hold(lock);
  if (ring.empty()) return;
  for (unsigned frame = 0; frame < frames; ++frame) {
    float mono = 0.0f;
    for (unsigned c = 0; c < channels; ++c) mono += interleaved[frame * channels + c];
    ring[(head + count) % ring.size()] = mono / static_cast<float>(channels);
    if (count < ring.size()) ++count;
    else head = (head + 1) % ring.size(), ++lostSince;
  }
  lastArrival = SteadySeconds();
}

void AudioInput::Take(std::vector<float>& samples, long& lost) {
  samples.clear();
  std::lock_guard<std::mutex> hold(lock);
  samples.reserve(count);
  for (size_t i = 0; i < count; ++i) samples.push_back(ring[(head + i) % ring.size()]);
  head = (head + count) % std::max<size_t>(1, ring.size());
  count = 0;
  lost = lostSince;
  lostSince = 0;
}

double AudioInput::SilentFor(double now) const {
  std::lock_guard<std::mutex> hold(lock);
  return now - lastArrival;
}

}  // namespace tool
