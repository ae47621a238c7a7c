// The flight's pace: the plugin's clock steps once per process call and is
// made for 60 calls a second, so the player makes exactly that many calls per
// second of wall time, whatever the display does. When drawing falls behind,
// the frames in between are due at once (the player advances them at one
// pixel); when the display is faster, no frame is due and the last picture
// is shown again. Pure arithmetic on seconds: tested as it is.
#pragma once

namespace tool {

class FramePacer {
 public:
  explicit FramePacer(double framesPerSecond) : framesPerSecond(framesPerSecond) {}

  // Counts from `now`, with `done` frames processed before: at the start and
  // after a pause, which stops the flight's time.
  void Restart(double now, long done);
  // The process calls due at `now` with `done` made: 0 or more. A backlog of
  // more than ten seconds (the machine slept, a debugger stopped it) is
  // forgiven: the pace restarts from now and the frames are lost, counted in
  // Dropped().
  long Due(double now, long done);
  // When the next frame falls due, for sleeping until then.
  double NextDue(long done) const;
  long Dropped() const { return dropped; }

 private:
  double framesPerSecond;
  double startTime = 0.0;
  long startFrame = 0;
  long dropped = 0;
};

}  // namespace tool
