#include "player/Player.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "player/Keys.h"
#include "sys/Interrupts.h"

namespace tool {

Player::Player(Window& window, Clock& clock, const HostSession& session, const ParameterControls& controls,
               const PlayerOptions& options)
    : window(window),
      clock(clock),
      session(session),
      names(controls.Names()),
      options(options),
      profile(ParameterProfile::For(session.Description())),
      console(clock, options.quiet),
      stage(controls, profile, this->options),
      captures(this->options, console, clock, backstage),
      pacer(options.framesPerSecond),
      governor(options.targetPerSecond),
      renewal(options.renewStepError),
      drawDelay(options.drawDelayPerMegapixel) {
}

Player::~Player() = default;

bool Player::Run(std::string& error) {
  if (!Start(error)) return false;
  while (!Done())
    if (!Pass(error)) return false;
  return Finish(error);
}

bool Player::Done() const {
  return input->QuitAsked() || window.ShouldClose() || Interrupted() ||
         (options.quitAfter > 0 && stage.Live().ShownFrames() >= options.quitAfter);
}

bool Player::Pass(std::string& error) {
  const double passStarted = clock.Now();
  TakeInput();
  if (input->QuitAsked()) return true;
  int windowWidth = 0, windowHeight = 0;
  window.FramebufferSize(windowWidth, windowHeight);
  if (windowWidth <= 0 || windowHeight <= 0) {  // minimised: the flight waits
    previousCall = -1.0;
    clock.SleepUntil(clock.Now() + 0.05);
    pacer.Restart(clock.Now(), stage.Live().ShownFrames());
    return true;
  }
  if (!SizePicture(error)) return false;
  SayRecordFailure();
  const LiveState& live = stage.Live();
  long due = live.Paused() ? 0 : pacer.Due(clock.Now(), live.ShownFrames());
  if (options.quitAfter > 0) due = std::min(due, static_cast<long>(options.quitAfter) - live.ShownFrames());
  drewThisPass = false;
  if (due > 0 && (!AdvanceAtOnePixel(due - 1, error) || !DrawFrame(error))) return false;
  SaveRequested();
  stage.Live().Sound().Catch(stage.Live().ShownFrames(), *rig);
  TellControllers();
  Present();
  FollowTheDrawnRate(passStarted);
  if (!Done()) WaitForNextFrame();
  return true;
}

// --scale auto: the drawing size steps to hold the target drawn rate.
void Player::FollowTheDrawnRate(double passStarted) {
  if (!options.autoScale || stage.Live().Paused()) return;
  const double now = clock.Now();
  if (!governor.Update(now, drewThisPass, statistics.drawSeconds, now - passStarted)) return;
  char line[160];
  std::snprintf(line, sizeof line, "drawing at %.0f %% of the output's size (%.1f drawn a second; the target is %.0f)",
                100.0 * governor.Scale(), governor.DrawnPerSecond(), options.targetPerSecond);
  console.Say(line);
}

bool Player::SettleWrites(double seconds) {
  const bool settled = backstage.Settle(seconds) && stage.Live().SettleHistory(seconds);
  SayRecordFailure();
  return settled;
}

// What the session's history has to say (takes saved, gigabytes passed),
// and a take that cannot be written, once; the show goes on.
void Player::SayRecordFailure() {
  backstage.Say(console);
  LiveState& live = stage.Live();
  for (const TakeJournal::News& news : live.JournalNews()) {
    if (news.problem) console.Problem(news.line);
    else console.Say(news.line);
  }
  if (recordFailureSaid || live.RecordFailure().empty()) return;
  recordFailureSaid = true;
  console.Problem(live.RecordingSession() ? "take: " + live.RecordFailure() + "; the take holds frames up to " +
                                                std::to_string(live.RecordedUpTo())
                                          : "the session's history: " + live.RecordFailure() + "; takes (T) are off");
}

// What came in since the last pass, in order: keys, panel, OSC, MIDI.
void Player::TakeInput() {
  window.PollEvents();
  captures.NewPass();
  for (const PlayerRequest& request : window.TakeRequests())
    if (!panel->WantsKeyboard()) input->Apply(request);
  if (!fromPanel.edits.empty()) input->HandsOn();
  stage.Live().Apply(fromPanel.edits);
  for (const PlayerRequest& request : fromPanel.actions) input->Apply(request);
  input->Apply(fromPanel.midi);
  if (fromPanel.putReaction) rig->Reactions().Put(*fromPanel.putReaction);
  if (fromPanel.removeReaction >= 0) rig->Reactions().Remove(static_cast<uint32_t>(fromPanel.removeReaction));
  fromPanel = PanelInput();
  controllers->Drain(clock.Now(), commands);
  for (const OscCommand& command : commands) input->Apply(command);
  controllers->Answer(input->Answers());
  controllers->Refuse(input->Refusals());
  midi = MidiResult();
  rig->Poll(clock.Now(), stage.Live().Values(), midi, rigLines);
  if (!midi.edits.empty()) input->HandsOn();
  stage.Live().Apply(midi.edits);
  for (const PlayerRequest& request : midi.actions) input->Apply(request);
  input->Say(rigLines);
}

// The picture's full size: the output window's when it is open, else the
// first window's.
void Player::FullSize(int& width, int& height) const {
  if (window.HasOutput()) window.OutputSize(width, height);
  else window.FramebufferSize(width, height);
  width = std::max(1, width), height = std::max(1, height);
}

// The picture the plugin draws: the output's full size, or the preview's
// fraction of it unless a still or a video wants every pixel.
bool Player::SizePicture(std::string& error) {
  int width = 0, height = 0;
  FullSize(width, height);
  if (Scale() < 1.0 && !captures.WantsFullSize(stage.Live().Paused())) {
    width = std::max(1, static_cast<int>(std::lround(width * Scale())));
    height = std::max(1, static_cast<int>(std::lround(height * Scale())));
  }
  if (width == decks.Width() && height == decks.Height()) return true;
  captures.PictureResized();
  hasPicture = false;
  return decks.Resize(width, height, error);
}

// The flight's next frame: the stage steps (transition, reactions, blackout),
// the tempo is told, and the plugin draws at full size or at one pixel.
bool Player::NextFrame(bool drawn, std::string& error) {
  // The frame's own time: when it fell due, earlier than now for a frame
  // that catches up. Its reactions and tempo are read at that time.
  const double due = std::min(clock.Now(), pacer.NextDue(stage.Live().ShownFrames()));
  rig->ReactionValues(due, reactionValues);
  const TempoReading tempo = rig->Tempo(due);
  float sound[4];
  direction->Frame(stage, tempo, rig->SoundAt(due, sound) ? sound : nullptr, due - playStarted, directed);
  for (const std::string& line : directed) console.Say(line);
  directed.clear();
  stage.StepFrame(reactionValues);
  if (tempo.Known()) decks.SetBeat(static_cast<float>(tempo.beatsPerMinute), tempo.BarPhase());
  LiveState& live = stage.Live();
  const double now = clock.Now();
  if (previousCall >= 0.0) passGap = std::max(passGap, now - previousCall);
  previousCall = statistics.lastCallAt = now;
  const long frame = live.ShownFrames();
  firstDeck = live.AllValues(0);
  if (!RenewWhenDue(tempo, error)) return false;
  Decks::Look look;
  look.first = &firstDeck;
  look.second = &live.AllValues(1);
  look.mix = live.Mix();
  look.blend = live.Blending();
  look.level = stage.Level();
  if (!decks.Frame(frame, look, drawn)) {
    error = "the plugin failed frame " + std::to_string(frame);
    return false;
  }
  if (!PreviewTheCue(error)) return false;
  live.FrameShown();
  live.Sound().FrameShown(frame, rig->SoundSampleAt(due));
  return true;
}

// Fresh instances before the travel clock's rounding shows in the speed: on
// a downbeat when there is a tempo, by a dissolve of the look into itself;
// never over a transition. The take holds it, so a render renews there too.
bool Player::RenewWhenDue(const TempoReading& tempo, std::string& error) {
  const double bar = tempo.Known() ? std::floor(tempo.beats / 4.0) : -1.0;
  const bool downbeat = !tempo.Known() || bar != lastBar;
  lastBar = bar;
  if (!decks.Renewing() && !stage.Transitioning() && renewal.RenewNow(downbeat)) {
    const long dissolve = std::lround(2.0 * options.framesPerSecond);
    char line[200];
    std::snprintf(line, sizeof line,
                  "renewing the flight's instances: their travel clock stands at %.0f, where a step can be %.1f %% "
                  "off; the fresh ones dissolve in",
                  renewal.Clock(), 100.0 * TravelRenewal::StepError(renewal.Clock(), renewal.NominalStep()));
    if (!decks.Renew(dissolve, error)) return false;
    console.Say(line);
    stage.Live().Renewed(dissolve);
    renewal.Restart();
  }
  renewal.Frame(firstDeck);
  return true;
}

// The look cued, drawn small for the performer while it waits to go.
bool Player::PreviewTheCue(std::string& error) {
  const long cued = stage.Cued();
  if (cued != previewed) preview.Clear();
  previewed = cued;
  if (cued < 0) return true;
  int width = 0, height = 0;
  FullSize(width, height);
  return preview.Frame(session, width, height, options.framesPerSecond, stage.Bank().Values(static_cast<size_t>(cued)),
                       error);
}

// The frames that fell due while the last one was drawn, each a process call
// at one pixel. A video repeats the last picture for them, so it lasts as
// long as the wall time it covers.
bool Player::AdvanceAtOnePixel(long frames, std::string& error) {
  for (long k = 0; k < frames; ++k) {
    if (!NextFrame(false, error)) return false;
    ++statistics.advanced;
    if (hasPicture) captures.FrameWentBy(decks.Picture());
  }
  return true;
}

// One process call at full size, then the blackout over it. The draw time is
// measured to the end of the GL work.
bool Player::DrawFrame(std::string& error) {
  const double started = clock.Now();
  if (!NextFrame(true, error)) return false;
  if (drawDelay > 0.0)  // a slower machine, on the clock
    clock.SleepUntil(clock.Now() + drawDelay * decks.Width() * decks.Height() / 1e6);
  hasPicture = drewThisPass = true;
  ++statistics.drawn;
  glFinish();
  const double now = clock.Now();
  statistics.drawSeconds = now - started;
  statistics.longestDraw = std::max(statistics.longestDraw, statistics.drawSeconds);
  if (now > statistics.lastDrawnAt)
    statistics.drawnPerSecond = 0.9 * statistics.drawnPerSecond + 0.1 / (now - statistics.lastDrawnAt);
  statistics.lastDrawnAt = now;
  return true;
}

// Stills and the video take the picture alone, before the panel is drawn
// over it in the window.
void Player::SaveRequested() {
  const LiveState& live = stage.Live();
  int fullWidth = 0, fullHeight = 0;
  FullSize(fullWidth, fullHeight);
  const bool full = decks.Width() == fullWidth && decks.Height() == fullHeight;
  if (full && live.Paused() && !hasPicture) {  // paused before anything was drawn at this size
    decks.Picture().Bind();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    hasPicture = true;
  }
  const bool wasRecording = captures.Recording();
  captures.Save(decks.Picture(), full, drewThisPass, live.Paused(), live.ShownFrames());
  // The frame drawn in this pass; a video that starts now starts with it.
  if (drewThisPass || (!wasRecording && captures.Recording())) captures.FrameWentBy(decks.Picture());
  if (pipewire) pipewire->SendPicture(decks.Picture(), drewThisPass);
}

// The show as it stands, to every controller: its health, the parameters,
// the blackout, the bank and the look; each follows what changed.
void Player::TellControllers() {
  health.Update(clock.Now(), stage.Live().ShownFrames(), statistics.drawnPerSecond,
                drewThisPass ? statistics.drawSeconds : 0.0, passGap);
  passGap = 0.0;
  const TempoReading tempo = rig->Tempo(clock.Now());
  health.Tempo(rig->Shown().BeatsPerMinute(), rig->Shown().Changing(), rig->TempoLocked(),
               tempo.Known() ? tempo.BeatInBar() + 1 : 0);
  health.Autopilot(direction->Pilot().On(), direction->Pilot().WaitingBars() > 0);
  if (!controllers->Serving()) return;
  UpdateShown();
  controllers->Publish(shown);
}

void Player::UpdateShown() {
  shown.parameters = stage.Live().Values();
  shown.health.assign(health.Values().begin(), health.Values().end());
  shown.blackout = stage.GoingToBlack();
  const PresetBank& bank = stage.Bank();
  shown.bank.resize(bank.Size());
  for (size_t slot = 0; slot < bank.Size(); ++slot)
    if (shown.bank[slot] != bank.Name(slot)) shown.bank[slot] = bank.Empty(slot) ? "" : bank.Name(slot);
  shown.look = stage.LookName();
  const long cued = stage.Cued();
  shown.cued = cued >= 0 ? bank.Name(static_cast<size_t>(cued)) : "";
  if (cued < 0) {
    shown.preview.reset();
  } else if (auto thumbnail = preview.Thumbnail(clock.Now())) {
    shown.preview = std::move(thumbnail);
    ++shown.previewSerial;
  }
}

// The picture at the output's full size: as drawn, or, drawn smaller,
// brought up by the upscaler (once, for the window and the output alike).
const hostkit::FrameTarget& Player::FullSizePicture() {
  const hostkit::FrameTarget& picture = decks.Picture();
  int width = 0, height = 0;
  FullSize(width, height);
  if (picture.Width() >= width && picture.Height() >= height) return picture;
  std::string error;
  if (upscaled.Width() != width || upscaled.Height() != height) {
    upscaled.Release();
    if (!upscaled.Create(width, height, hostkit::PixelFormat::Rgba8, error)) return picture;
  }
  upscaler.Draw(picture, upscaled);
  return upscaled;
}

void Player::Present() {
  int windowWidth = 0, windowHeight = 0;
  window.FramebufferSize(windowWidth, windowHeight);
  const hostkit::FrameTarget& picture = FullSizePicture();
  glBindFramebuffer(GL_READ_FRAMEBUFFER, picture.FrameBuffer());
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, window.FrameBuffer());
  glViewport(0, 0, windowWidth, windowHeight);
  glBlitFramebuffer(0, 0, picture.Width(), picture.Height(), 0, 0, windowWidth, windowHeight, GL_COLOR_BUFFER_BIT,
                    GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, window.FrameBuffer());
  const LiveState& live = stage.Live();
  PanelState state;
  state.parameters = &session.Parameters();
  state.values = &live.Values();
  state.profile = &profile;
  state.reactions = &rig->Reactions().All();
  state.drawMilliseconds = statistics.drawSeconds * 1000.0;
  state.framesPerSecond = statistics.drawnPerSecond;
  state.frame = live.ShownFrames();
  state.skippedFrames = statistics.advanced;
  state.paused = live.Paused();
  state.recording = captures.Recording();
  state.takeRecording = live.TakeRecording();
  state.blackout = stage.GoingToBlack();
  state.bank = stage.Bank().Size() > 0 ? &stage.Bank() : nullptr;
  state.lookName = stage.LookName();
  state.cued = stage.Cued();
  if (state.cued >= 0 && preview.Drawn()) {
    state.previewTexture = preview.Picture().ColorTexture();
    state.previewWidth = preview.Picture().Width();
    state.previewHeight = preview.Picture().Height();
  }
  state.console = &console;
  state.showHelp = input->ShowingHelp();
  state.askingToQuit = input->AskingToQuit();
  state.output = window.HasOutput();
  state.scale = Scale();
  state.audience = input->AudienceWatching();
  state.messagesOverPicture = input->MessagesOverPicture();
  const TempoReading tempo = rig->Tempo(clock.Now());
  state.beatsPerMinute = rig->Shown().BeatsPerMinute();
  state.tempoChanging = rig->Shown().Changing();
  state.tempoLocked = rig->TempoLocked();
  state.autopilot = direction->Pilot().On();
  state.autopilotWaits = direction->Pilot().WaitingBars();
  state.beatInBar = tempo.Known() ? tempo.BeatInBar() : -1;
  state.tempoSource = rig->Source();
  state.linkPeers = rig->LinkPeers();
  state.midiMap = rig->MidiOn() ? &rig->Map() : nullptr;
  panel->Draw(state, fromPanel);
  window.SetTitle(Title());
  window.SwapBuffers();
  window.ShowOnOutput(picture.ColorTexture(), picture.Width(), picture.Height());
}

// Where the performer reads the player when the panel is not drawn (hidden,
// or full screen for the audience): the window's title.
std::string Player::Title() const {
  const std::string name = "Tessarvander";
  if (panel->Visible() && !input->AudienceWatching()) return name;
  if (input->AskingToQuit()) return name + ": press Q again to quit (Ctrl+Q quits at once)";
  const Console::Line* fresh = console.Fresh();
  return fresh ? name + ": " + fresh->text : name;
}

// Until the next frame falls due; a short nap while paused.
void Player::WaitForNextFrame() {
  const LiveState& live = stage.Live();
  if (live.Paused()) {
    previousCall = -1.0;  // a pause is no gap
    clock.SleepUntil(clock.Now() + 1.0 / options.framesPerSecond);
    pacer.Restart(clock.Now(), live.ShownFrames());
    return;
  }
  clock.SleepUntil(pacer.NextDue(live.ShownFrames()));
}

bool Player::Finish(std::string& error) {
  captures.StopVideo();
  LiveState& live = stage.Live();
  bool written = true;
  if (live.TakeRecording()) captures.ToggleTake(live);
  if (live.RecordingSession()) {
    written = live.CloseSession(error);
    if (written)
      console.Say("saved take " + live.SessionTakePath() + " (frames 0 to " + std::to_string(live.ShownFrames()) +
                  "); render it with: tessarvander render --take " + live.SessionTakePath() + " -o take.mp4");
  }
  // The pace as the plugin saw it: the last call's time from the first.
  char summary[192];
  std::snprintf(summary, sizeof summary,
                "played %ld frames in %.3f s: %ld drawn, %ld advanced at one pixel; the longest draw took %.3f s",
                live.ShownFrames(), statistics.lastCallAt - playStarted, statistics.drawn, statistics.advanced,
                statistics.longestDraw);
  console.Say(summary);
  return written;
}

}  // namespace tool
