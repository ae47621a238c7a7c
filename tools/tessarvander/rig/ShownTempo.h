// The tempo as the performer and the controllers read it (the panel, the
// title, the remote, /status/tempo, the terminal's lines). A first guess is
// never shown: a new tempo shows once it has held within kChange for
// kHeldSeconds (and, from the live sound, once the analysis trusts it);
// until then the tempo before stays, marked as changing. A tempo that then
// settles within kSettled for kSettledSeconds shows at its settled value.
// What the performer's own hand does (halve, double, lock) shows at once.
#pragma once

namespace tool {

class ShownTempo {
 public:
  static constexpr double kChange = 0.01;
  static constexpr double kHeldSeconds = 1.0;
  static constexpr double kSettled = 0.002;
  static constexpr double kSettledSeconds = 3.0;

  // Once a pass, with the tempo read now (0 for none). True when the shown
  // tempo changed, to be said.
  bool Update(double now, double beatsPerMinute, bool trusted);
  // The performer's own change, shown at once.
  void Accept(double now, double beatsPerMinute);

  double BeatsPerMinute() const { return shown; }  // 0 before the first
  // The tempo read differs from the one shown and is not yet confirmed.
  bool Changing() const { return changing; }

 private:
  double shown = 0.0;
  bool changing = false;
  double holding = 0.0, holdingSince = 0.0;
  double settling = 0.0, settlingSince = 0.0;
  bool settledShown = false;  // the settled value since the last change
};

}  // namespace tool
