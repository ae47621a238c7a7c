#include "player/StageRig.h"

#include <cmath>
#include <cstdio>

#include "sys/BoundedFile.h"
#include "sys/OutputFile.h"
#include "sys/Messages.h"
#include "sys/SteadyClock.h"

namespace tool {
namespace {

// A change of tempo said to the performer: more than this share at once,
// or a tempo that has stayed within the second share this long.
constexpr double kSaidTempoChange = 0.01;
constexpr double kChangeHeldSeconds = 1.0;
constexpr double kSettledChange = 0.002;
constexpr double kSettledSeconds = 3.0;

}  // namespace
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
    link = std::make_unique<LinkSession>(lastBeatsPerMinute > 0.0 ? lastBeatsPerMinute : 120.0);
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
        default: map.Handle(event, values, midi);
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

// A tempo that changes is said, whatever its source: a change of more than
// kSaidTempoChange once it has held a second (not every first guess), and
// the value it settles at once it has held for kSettledSeconds (once after
// each change), so a performer reads where it stands without a line for
// every correction. The live sound's tempo is said once its tempo path has
// heard a whole stretch, not as the first seconds' guess.
void StageRig::SayTempo(double now, std::vector<RigLine>& lines) {
  const TempoReading tempo = Tempo(now);
  if (!tempo.Known() || (source == TempoSource::Audio && !analysis.TempoConfident())) return;
  const double bpm = tempo.beatsPerMinute;
  if (std::fabs(bpm / holding - 1.0) > kSaidTempoChange) holding = bpm, holdingSince = now;
  if (std::fabs(bpm / settling - 1.0) > kSettledChange) settling = bpm, settlingSince = now;
  const bool changed = (lastBeatsPerMinute <= 0.0 || std::fabs(bpm / lastBeatsPerMinute - 1.0) > kSaidTempoChange) &&
                       now - holdingSince >= kChangeHeldSeconds;
  const bool settled = !settledSaid && now - settlingSince >= kSettledSeconds && std::fabs(bpm - lastBeatsPerMinute) >= 0.05;
  if (!changed && !settled) return;
  lines.push_back({TempoLine(bpm, source)});
  lastBeatsPerMinute = bpm;
  settledSaid = settled && !changed;
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

TempoReading StageRig::Tempo(double now) const {
  switch (source) {
    case TempoSource::Tap: return tapTempo.At(now);
    case TempoSource::MidiClock: return midiClock.At(now);
    case TempoSource::Link: return link ? link->Now() : TempoReading();
    case TempoSource::Audio:
      if (!audioInput || analysis.BeatsPerMinute() <= 0.0) return {};
      return {analysis.BeatsPerMinute(), analysis.BeatsAt(SoundSecondsAt(now))};
  }
  return {};
}

void StageRig::Tap(double now, std::vector<RigLine>& lines) {
  tapTempo.Tap(now);
  if (source == TempoSource::Link) {
    // Taps lead a Link session: the tapped tempo goes to every peer.
    if (link && tapTempo.At(now).Known()) link->SetTempo(tapTempo.At(now).beatsPerMinute);
  } else if (source != TempoSource::Tap) {
    lines.push_back({std::string("the tempo follows ") + TempoSourceName(source) + ": taps count when it is tap"});
  }
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
