#include "render/RenderJob.h"

#include "render/Dimmer.h"
#include "render/FrameLoop.h"
#include "sys/Interrupts.h"

namespace tool {

RenderOutcome RunRender(const HostSession& session, RenderTimeline& timeline, const RenderJob& job, FrameSink& sink,
                        std::string& error) {
  FrameLoop loop;
  Dimmer dimmer;
  if (!loop.Start(session, job.width, job.height, job.framesPerSecond, error) || !dimmer.Create(error))
    return RenderOutcome::Failed;
  std::vector<ParameterValue> values;
  // The next frame of the timeline, drawn or advanced; a frame the timeline
  // does not process (a take's pause) leaves the picture as it was.
  const auto nextFrame = [&](bool drawn) {
    const bool process = timeline.Next(values);
    if (job.beatAt && timeline.OutputFrame() >= 0) {
      float beatsPerMinute = 0.0f, barPhase = 0.0f;
      job.beatAt(timeline.OutputFrame(), beatsPerMinute, barPhase);
      loop.SetBeat(beatsPerMinute, barPhase);
    }
    if (!process) return true;
    if (!drawn) return loop.Advance(timeline.HostFrame(), values);
    if (!loop.Draw(timeline.HostFrame(), values)) return false;
    // What the audience saw: the picture at the take's level.
    if (timeline.Level() < 1.0f) dimmer.Apply(loop.Target(), timeline.Level());
    return true;
  };

  for (long frame = 0; frame < job.preRoll + job.first; ++frame) {
    if (Interrupted()) return RenderOutcome::Interrupted;
    if (!nextFrame(false)) {
      error = "the plugin failed a frame";
      return RenderOutcome::Failed;
    }
  }
  loop.StartReadback(sink, job.readbackDepth);
  for (long frame = job.first; frame < job.end; ++frame) {
    if (Interrupted()) return RenderOutcome::Interrupted;
    if (!nextFrame(true)) {
      error = "the plugin failed frame " + std::to_string(frame);
      return RenderOutcome::Failed;
    }
    if (!loop.Submit(frame - job.first)) break;  // the sink's reason comes from FinishReadback
    if (job.progress) job.progress(frame - job.first + 1);
  }
  if (!loop.FinishReadback(error)) return RenderOutcome::Failed;
  return Interrupted() ? RenderOutcome::Interrupted : RenderOutcome::Done;
}

}  // namespace tool
