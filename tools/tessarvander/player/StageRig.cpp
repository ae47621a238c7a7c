#include "player/StageRig.h"

#include <cmath>
#include <cstdio>

#include "sys/BoundedFile.h"
#include "sys/OutputFile.h"
#include "sys/Messages.h"
#include "sys/SteadyClock.h"

namespace tool {
namespace {


// Malformed MIDI is counted and said at most this often.
constexpr double kMalformedSaidEvery = 5.0;
// Sound that stops arriving for this long is said once.
constexpr double kSilentCapture = 2.0;

std::string TempoLine(double beatsPerMinute, TempoSource source) {
  char text[96];
  std::snprintf(text, sizeof text, "tempo %.1f beats a minute (%s)", beatsPerMinute, TempoSourceName(source));
  return text;
}

}  // namespace

StageRig::StageRig(const ParameterNames& names, Backstage& backstage) : names(names), backstage(backstage), map(names) {}
StageRig::~StageRig() = default;

bool StageRig::Start(const RigOptions& options, std::vector<RigLine>& lines, std::string& error) {
  mapPath = options.midiMapPath;
  if (!mapPath.empty() && PathExists(mapPath)) {
    if (!map.Load(mapPath, error)) return false;
    lines.push_back({"MIDI map " + mapPath + ": " + std::to_string(map.Mappings().size()) + " mappings"});
  }
  if (options.midi) {
    midiInput = std::make_unique<MidiInput>();
    std::vector<std::string> said;
    std::string why;
    if (!midiInput->Open(options.midiPort, said, why)) {
      lines.push_back({why + "; playing on without MIDI", true});
      midiInput.reset();
    }
    for (const std::string& line : said) lines.push_back({line});
  }
  if (options.audioIn) {
    audioInput = std::make_unique<AudioInput>();
    std::string why;
    if (!audioInput->Open(options.audioDevice, why) || !analysis.Begin(audioInput->SampleRate(), why)) {
      lines.push_back({why + "; playing on without live sound", true});
      audioInput.reset();
    } else {
      char latency[160];
      std::snprintf(latency, sizeof latency,
                    "; reactions follow it %.0f ms late (capture %.0f ms, analysis %.0f ms) plus up to a frame",
                    1000.0 * (audioInput->LatencySeconds() + analysis.LatencySeconds()),
                    1000.0 * audioInput->LatencySeconds(), 1000.0 * analysis.LatencySeconds());
      lines.push_back({"live sound from " + audioInput->Description() + latency});
    }
  }
  // Always there: the panel may put a reaction on any slider.
  if (!LiveReactions::Check(options.reactions, options.timing, options.audioIn, error)) return false;
  reactions = std::make_unique<LiveReactions>(options.reactions, options.timing);
  SetSource(options.tempo, lines);
  return true;
}

void StageRig::SetSource(TempoSource chosen, std::vector<RigLine>& lines) {
  source = chosen;
  if (source == TempoSource::Link && !link) {
    link = std::make_unique<LinkSession>(shown.BeatsPerMinute() > 0.0 ? shown.BeatsPerMinute() : 120.0);
    lines.push_back({"joined Ableton Link (peers on this network share its tempo and beat)"});
  }
  if (source != TempoSource::Link) link.reset();
  if (source == TempoSource::MidiClock && !midiInput)
    lines.push_back({"the tempo follows a MIDI clock: give --midi to listen for one", true});
  if (source == TempoSource::Audio && !audioInput)
    lines.push_back({"the tempo follows the live sound: give --audio-in to capture it", true});
}

void StageRig::Poll(double now, const std::vector<float>& values, MidiResult& midi, std::vector<RigLine>& lines) {
  if (midiInput) {
    std::vector<std::string> said;
    midiInput->Watch(now, said);
    for (const std::string& line : said) lines.push_back({line, line.find("vanished") != std::string::npos});
    long dropped = 0;
    midiInput->Drain(midiBytes, dropped);
    for (const MidiBytes& message : midiBytes) {
      MidiEvent event;
      const MidiDecoded decoded = message.size == 0 ? MidiDecoded::Ignored : DecodeMidi(message.bytes, message.size, event);
      if (decoded == MidiDecoded::Malformed) ++malformedMidi;
      if (decoded != MidiDecoded::Event) continue;
      switch (event.kind) {
        case MidiEvent::Clock: midiClock.Pulse(message.at); break;
        case MidiEvent::Start: midiClock.Start(); break;
        case MidiEvent::Continue: midiClock.Continue(); break;
        case MidiEvent::Stop: midiClock.Stop(); break;
        default: {
          // A pad's action keeps the time it was hit, for taps and nudges.
          const size_t before = midi.actions.size();
          map.Handle(event, values, midi);
          for (size_t k = before; k < midi.actions.size(); ++k) midi.actions[k].at = message.at;
        }
      }
    }
    if (dropped > 0) lines.push_back({"MIDI: " + std::to_string(dropped) + " messages dropped: more came than a frame takes", true});
    if (malformedMidi > 0 && now - malformedSaidAt >= kMalformedSaidEvery) {
      lines.push_back({"MIDI: ignored " + std::to_string(malformedMidi) + " malformed messages", true});
      malformedMidi = 0;
      malformedSaidAt = now;
    }
    if (!midi.learned.empty()) lines.push_back({"learned " + midi.learned});
    if (midi.mapChanged) SaveMap(lines);
  }
  if (audioInput) {
    long lost = 0;
    audioInput->Take(samples, lost);
    analysis.Feed(samples.data(), samples.size());
    Keep(samples);
    // The sound's own time, as it stood when this poll took it in.
    soundPolledAt = now;
    soundSecondsAtPoll = analysis.Seconds();
    if (lost > 0) {
      char line[128];
      std::snprintf(line, sizeof line, "live sound: %.2f s lost while the frame loop was held up",
                    static_cast<double>(lost) / audioInput->SampleRate());
      lines.push_back({line, true});
    }
    const bool silent = audioInput->SilentFor(SteadySeconds()) > kSilentCapture;
    if (silent && !silenceSaid)
      lines.push_back({"live sound: nothing has arrived from " + audioInput->Description() +
                           " for 2 s (did its server stop?); playing on", true});
    if (!silent && silenceSaid) lines.push_back({"live sound is back"});
    silenceSaid = silent;
  }
  SayTempo(now, lines);
}

// The tempo shown, and a line whenever it changes (see ShownTempo); the
// live sound's tempo counts once its tempo path has heard a whole stretch,
// not as the first seconds' guess.
void StageRig::SayTempo(double now, std::vector<RigLine>& lines) {
  const TempoReading tempo = Tempo(now);
  const bool trusted = hand.Locked() || source != TempoSource::Audio || analysis.TempoConfident();
  if (shown.Update(now, tempo.beatsPerMinute, trusted)) lines.push_back({TempoLine(tempo.beatsPerMinute, source)});
}

void StageRig::Keep(const std::vector<float>& captured) {
  if (recent.empty()) recent.assign(static_cast<size_t>(kRecentSeconds * audioInput->SampleRate()), 0.0f);
  for (float sample : captured) recent[soundCaptured++ % recent.size()] = sample;
}

double StageRig::SoundSampleAt(double time) const {
  if (!audioInput) return 0.0;
  return (SoundSecondsAt(time) - analysis.OnsetDelaySeconds()) * audioInput->SampleRate();
}

bool StageRig::SoundAt(double time, float out[4]) const {
  if (!audioInput) return false;
  const AudioFeature bands[4] = {AudioFeature::Level, AudioFeature::Bass, AudioFeature::Mid, AudioFeature::Treble};
  for (int k = 0; k < 4; ++k) out[k] = analysis.DecibelsAt(bands[k], SoundSecondsAt(time));
  return true;
}

size_t StageRig::RecentSound(uint64_t from, size_t count, float* out) const {
  const uint64_t oldest = soundCaptured > recent.size() ? soundCaptured - recent.size() : 0;
  size_t there = 0;
  for (size_t k = 0; k < count; ++k) {
    const uint64_t at = from + k;
    if (at >= soundCaptured) break;
    out[k] = at >= oldest ? recent[at % recent.size()] : 0.0f;
    ++there;
  }
  return there;
}

double StageRig::SoundSecondsAt(double time) const {
  return std::min(soundSecondsAtPoll, soundSecondsAtPoll - (soundPolledAt - time));
}

void StageRig::ReactionValues(double time, std::vector<ParameterValue>& values) {
  values.clear();
  if (!reactions) return;
  const TempoReading tempo = Tempo(time);
  LiveReactions::Moment moment;
  moment.beats = tempo.beats;
  moment.beatsPerMinute = tempo.beatsPerMinute;
  moment.seconds = time;
  moment.sound = audioInput ? &analysis : nullptr;
  moment.soundSeconds = SoundSecondsAt(time);
  reactions->Frame(moment, values);
}

TempoReading StageRig::Tempo(double time) const { return hand.Read(SourceTempo(time), time); }

TempoReading StageRig::SourceTempo(double now) const {
  switch (source) {
    case TempoSource::Tap: return tapTempo.At(now);
    case TempoSource::MidiClock: return midiClock.At(now);
    case TempoSource::Link: return link ? link->At(now) : TempoReading();
    case TempoSource::Audio:
      if (!audioInput || analysis.BeatsPerMinute() <= 0.0) return {};
      return {analysis.BeatsPerMinute(), analysis.BeatsAt(SoundSecondsAt(now))};
  }
  return {};
}

void StageRig::Tap(double at, std::vector<RigLine>& lines) {
  tapTempo.Tap(at);
  if (source == TempoSource::Link) {
    // Taps lead a Link session: the tapped tempo goes to every peer.
    if (link && tapTempo.At(at).Known()) link->SetTempo(tapTempo.At(at).beatsPerMinute);
  } else if (source != TempoSource::Tap) {
    lines.push_back({std::string("the tempo follows ") + TempoSourceName(source) + ": taps count when it is tap"});
  }
}

void StageRig::One(double at, std::vector<RigLine>& lines) {
  if (!hand.One(SourceTempo(at), at)) lines.push_back({"no tempo yet: tap it, or give it a source", true});
}

void StageRig::ScaleTempo(double by, double at, std::vector<RigLine>& lines) {
  if (!hand.Scale(by, SourceTempo(at), at)) {
    lines.push_back({hand.Locked() || SourceTempo(at).Known() ? "the tempo is as far from its source as it goes"
                                                              : "no tempo yet: tap it, or give it a source",
                     true});
    return;
  }
  const double bpm = Tempo(at).beatsPerMinute;
  shown.Accept(at, bpm);
  lines.push_back({TempoLine(bpm, source) + (by > 1.0 ? ": doubled" : ": halved")});
}

void StageRig::LockTempo(bool on, double at, std::vector<RigLine>& lines) {
  if (on == hand.Locked()) return;
  if (!hand.Lock(on, SourceTempo(at), at)) {
    lines.push_back({"no tempo to lock yet", true});
    return;
  }
  const double bpm = Tempo(at).beatsPerMinute;
  if (bpm > 0.0) shown.Accept(at, bpm);
  char line[96];
  if (on) std::snprintf(line, sizeof line, "tempo locked at %.1f beats a minute", bpm);
  else std::snprintf(line, sizeof line, "tempo unlocked: it follows %s again", TempoSourceName(source));
  lines.push_back({line});
}

void StageRig::MapEdited(std::vector<RigLine>& lines) { SaveMap(lines); }

// The map as it stands, written whole off the frame loop; a failure is said
// with the writer's next outcomes.
void StageRig::SaveMap(std::vector<RigLine>&) {
  if (mapPath.empty()) return;
  backstage.Write(
      [path = mapPath, text = map.ToJson()]() -> Backstage::Outcome {
        std::string error;
        if (!WriteWholeFile(path, text, error)) return {true, "MIDI map: " + error};
        return {};
      },
      4096, "the MIDI map");
}

}  // namespace tool
