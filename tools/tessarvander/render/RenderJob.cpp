#include "render/RenderJob.h"

#include "render/Decks.h"
#include "render/ReadbackPipeline.h"
#include "sys/Interrupts.h"

namespace tool {

RenderOutcome RunRender(const HostSession& session, RenderTimeline& timeline, const RenderJob& job, FrameSink& sink,
                        std::string& error) {
  Decks decks;
  if (!decks.Start(session, job.width, job.height, job.framesPerSecond, timeline.TwoDecks(), error))
    return RenderOutcome::Failed;
  std::vector<ParameterValue> values;
  // The next frame of the timeline, drawn or advanced; a frame the timeline
  // does not process (a take's pause) leaves the picture as it was.
  const auto nextFrame = [&](bool drawn) {
    const bool process = timeline.Next(values);
    if (job.beatAt && timeline.OutputFrame() >= 0) {
      float beatsPerMinute = 0.0f, barPhase = 0.0f;
      job.beatAt(timeline.OutputFrame(), beatsPerMinute, barPhase);
      decks.SetBeat(beatsPerMinute, barPhase);
    }
    if (!process) return true;
    std::string why;
    if (timeline.Renewal() > 0 && !decks.Renew(timeline.Renewal(), why)) return false;
    Decks::Look look;
    look.first = &values;
    look.second = timeline.TwoDecks() ? &timeline.SecondDeck() : nullptr;
    look.mix = timeline.Mix();
    look.blend = timeline.Blending();
    look.level = timeline.Level();
    return decks.Frame(timeline.HostFrame(), look, drawn);
  };

  for (long frame = 0; frame < job.preRoll + job.first; ++frame) {
    if (Interrupted()) return RenderOutcome::Interrupted;
    if (!nextFrame(false)) {
      error = "the plugin failed a frame";
      return RenderOutcome::Failed;
    }
  }
  ReadbackPipeline readback(sink, job.width, job.height, job.readbackDepth);
  for (long frame = job.first; frame < job.end; ++frame) {
    if (Interrupted()) return RenderOutcome::Interrupted;
    if (!nextFrame(true)) {
      error = "the plugin failed frame " + std::to_string(frame);
      return RenderOutcome::Failed;
    }
    if (!readback.Submit(decks.Picture(), frame - job.first)) break;  // the reason comes from Finish
    if (job.progress) job.progress(frame - job.first + 1);
  }
  if (!readback.Finish()) {
    error = readback.Error();
    return RenderOutcome::Failed;
  }
  return Interrupted() ? RenderOutcome::Interrupted : RenderOutcome::Done;
}

}  // namespace tool
