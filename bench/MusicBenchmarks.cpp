// The music analysis: its speed per minute of audio and the beat tracker's
// accuracy on a long track made here from known beats (steady stretches,
// swing, 3+3+2, a break, a silence and a tempo change).
#include <benchmark/benchmark.h>

#include "../tests/support/SyntheticMusic.h"
#include "music/AudioAnalysis.h"
#include "music/LiveAnalysis.h"

namespace {

// About five minutes: the same sections again and again.
const synthetic::Track& LongTrack() {
  static const synthetic::Track track = [] {
    synthetic::Builder builder;
    for (int round = 0; round < 3; ++round) {
      builder.Bars(8, 126, synthetic::Pattern::Basic)
          .Bars(4, 126, synthetic::Pattern::PadOnly)
          .Bars(8, 126, synthetic::Pattern::Tresillo)
          .Bars(8, 126, synthetic::Pattern::Swing)
          .Silence(2.0)
          .Bars(8, 140, synthetic::Pattern::Basic);
    }
    return builder.Done();
  }();
  return track;
}

void BM_AnalyseTrack(benchmark::State& state) {
  const synthetic::Track& track = LongTrack();
  tool::AudioAnalysis analysis;
  std::string error;
  for (auto _ : state) {
    if (!analysis.Analyse(track.samples, synthetic::kRate, error)) state.SkipWithError(error.c_str());
  }
  const synthetic::Match beats = synthetic::MatchBeats(track.beats, analysis.Grid().Beats(), 0.035);
  const synthetic::Match bars = synthetic::MatchBeats(track.downbeats, analysis.Grid().Downbeats(), 0.035);
  state.counters["minutes"] = track.Seconds() / 60.0;
  state.counters["beats_matched"] = beats.Share();
  state.counters["beats_extra"] = beats.ExtraShare();
  state.counters["bars_matched"] = bars.Share();
}
BENCHMARK(BM_AnalyseTrack)->Unit(benchmark::kMillisecond)->UseRealTime();

// The live analysis of `play --audio-in` on the same track, fed a frame's
// worth of sound at a time as the player feeds it: its cost as a share of
// real time, and its beats against the known ones (told ahead of the sound,
// so matched within a frame at 60 plus its stated latency).
void BM_LiveAnalysis(benchmark::State& state) {
  const synthetic::Track& track = LongTrack();
  std::vector<double> told;
  double latency = 0.0;
  for (auto _ : state) {
    tool::LiveAnalysis analysis;
    std::string error;
    if (!analysis.Begin(synthetic::kRate, error)) state.SkipWithError(error.c_str());
    told.clear();
    double last = -1.0;
    const size_t frame = synthetic::kRate / 60;
    for (size_t at = 0; at < track.samples.size(); at += frame) {
      analysis.Feed(track.samples.data() + at, std::min(frame, track.samples.size() - at));
      if (analysis.LastEvent(tool::AudioFeature::Beat) != last) {
        last = analysis.LastEvent(tool::AudioFeature::Beat);
        told.push_back(analysis.Seconds());
      }
    }
    latency = analysis.LatencySeconds();
  }
  const synthetic::Match beats = synthetic::MatchBeats(track.beats, told, 1.0 / 60.0 + latency);
  state.counters["minutes"] = track.Seconds() / 60.0;
  state.counters["beats_matched"] = beats.Share();
  state.counters["beats_extra"] = beats.ExtraShare();
}
BENCHMARK(BM_LiveAnalysis)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
