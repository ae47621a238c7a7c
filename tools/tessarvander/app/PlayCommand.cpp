// tessarvander play: the command line of the live player. The player itself
// is in player/.
#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/Commands.h"
#include "app/CommandSupport.h"
#include "formats/CueSheet.h"
#include "formats/Presets.h"
#include "formats/OscAddresses.h"
#include "sys/OutputFile.h"
#include "music/LiveReactions.h"
#include "player/CuePlayer.h"
#include "player/GlfwWindow.h"
#include "player/Keys.h"
#include "player/Player.h"
#include "sys/Executable.h"
#include "sys/HostAndPort.h"
#include "sys/BoundedFile.h"
#include "sys/Numbers.h"

namespace tool {
namespace {

const char* kPlayDescription =
    "Plays the flight live in a window, steered from a panel, keys or OSC.\n\n"
    "Plays the flight in a window. The panel (Tab) has a slider for every\n"
    "parameter; OSC (--osc) sets them from a tablet or a sequencer. Stills,\n"
    "videos, presets and takes are saved in the current folder, or --out.\n"
    "A take re-renders exactly with 'tessarvander render --take FILE', at any size.\n";

class PlayCommand : public Command {
 public:
  CLI::App* Declare(CLI::App& program) override {
    CLI::App* command = program.add_subcommand("play", kPlayDescription);
    command->footer(KeyHelp() + "\n\nOSC addresses (--osc PORT):\n" + OscHelp() + "\n" +
                    "examples:\n"
                    "  tessarvander play --osc 9000 &\n"
                    "  oscsend localhost 9000 /tessarvander/param/fractal_type f 0.6\n"
                    "  tessarvander play --midi --tempo midi-clock\n"
                    "  tessarvander play --audio-in --react zoom=0.45:0.6:beat-phase --react glow=0.2:0.8:bass\n");
    AddSizeOption(*command, "--size", size, "window size (default 1280x720; resizable)");
    command->add_option("--fullscreen", monitor, "start full screen, on this monitor (index or name)")
        ->expected(0, 1)
        ->type_name("[MONITOR]");
    command->add_flag("--list-monitors", listMonitors, "list the monitors and quit");
    command->add_flag("--no-vsync", noVsync, "do not wait for the display's refresh");
    command->add_option("--fps", options.framesPerSecond,
                        "the flight's pace: this many frames of the plugin's clock a second of wall time, however "
                        "fast the display draws; also the frame rate of recordings and takes (default 60: the "
                        "plugin's clock is made for 60)")
        ->check(Within(1, kMaxFramesPerSecond))
        ->type_name("N");
    command->add_option("--output-monitor", options.outputMonitor,
                        "show the picture alone, full screen on this monitor (the projector), and keep the panel "
                        "in the first window; O opens and closes it")
        ->type_name("MONITOR");
    command->add_option("--bank", bankFolder,
                        "a folder of presets, in name order, for keys 1-9 and 0, [ and ] and OSC "
                        "/tessarvander/preset/recall (default: the looks shipped with the program)")
        ->type_name("FOLDER");
    command->add_option("--crossfade", options.crossfadeSeconds,
                        "recall looks over this many seconds, as --transition says")
        ->check(Within(0, 60))
        ->type_name("SECONDS")
        ->capture_default_str();
    command->add_option("--transition", transition,
                        "how a look comes in over the crossfade: dissolve (the new look drawn beside the old one and "
                        "blended in), add (an additive crossfade), luma (the new look keyed in by its brightness), or "
                        "morph (the values ease in on one instance; fractal type and palette switch half way)")
        ->check(OneOf({"dissolve", "add", "luma", "morph"}))
        ->type_name("KIND")
        ->capture_default_str();
    command->add_option("--cues", cuesPath,
                        "follow a cue sheet on the tempo's grid: its bar 1 is the tempo's next downbeat (see "
                        "docs/formats.md)")
        ->type_name("FILE");
    command->add_flag("--autopilot", options.autopilot,
                      "the music changes the looks: a new look each phrase (8 or 16 bars) and at each new section "
                      "heard, until a look or slider is changed by hand (A toggles it)");
    command->add_option("--seed", options.autopilotSeed, "the autopilot's order of looks")
        ->check(Within(0, 1e15))
        ->capture_default_str();
    command->add_flag("--defaults", defaults,
                      "open on the plugin's own values rather than the bank's first look");
    command->add_option("--pipewire", options.pipewireName,
                        "publish the output as a PipeWire video source node with this name (default "
                        "tessarvander), for OBS, recorders and other visual tools")
        ->expected(0, 1)
        ->default_str("tessarvander")
        ->type_name("[NAME]");
    command->add_option("--blackout-time", options.blackoutSeconds, "how long B takes to fade to black and back")
        ->check(Within(0, 60))
        ->type_name("SECONDS")
        ->capture_default_str();
    command->add_option("--scale", scale,
                        "draw at this fraction of the output's size and scale it up (Lanczos, sharper than "
                        "bilinear); auto (the default) steps the size down to hold --target-fps drawn frames a second "
                        "where a smaller picture helps, and back up when there is room, never below a quarter; "
                        "stills, videos and takes keep every pixel")
        ->type_name("auto|FRACTION")
        ->capture_default_str();
    command->add_option("--target-fps", options.targetPerSecond, "the drawn rate --scale auto holds")
        ->check(Within(1, 240))
        ->type_name("N")
        ->capture_default_str();
    // A slower machine, for tests: seconds a megapixel drawn costs on top.
    command->add_option("--draw-delay", options.drawDelayPerMegapixel)->check(Within(0, 10))->group("");
    command->add_option("--osc", options.oscPort, "listen for OSC messages on this UDP port")
        ->check(Within(1, 65535))
        ->type_name("PORT");
    command->add_option("--osc-host", options.oscHost, "the address to listen on (default 127.0.0.1: this machine only)")
        ->capture_default_str();
    command->add_option("--osc-reply", options.oscReply,
                        "send every change of a value, whatever its source, to this controller as "
                        "/tessarvander/param/NAME f")
        ->type_name("HOST:PORT");
    command->add_option("--oscquery", options.oscQueryPort,
                        "describe the OSC addresses to controller apps over HTTP and WebSocket (OSCQuery, with "
                        "LISTEN) on this port, on the --osc-host address; needs --osc")
        ->check(Within(1, 65535))
        ->type_name("PORT");
    command->add_option("--remote", remote,
                        "serve the remote page (http://HOST:PORT/remote: sliders, bank, blackout, tap) and OSCQuery "
                        "on this port; this machine only, unless a HOST is given, when every request needs the "
                        "token printed at the start")
        ->type_name("[HOST:]PORT");
    command->add_flag("--remote-read-only", options.remoteReadOnly,
                      "the remote shows the values and changes nothing");
    command->add_option("--midi", midiPort,
                        "listen to MIDI controllers (ALSA or JACK): every input, or the one whose name contains "
                        "PORT; map controls with the panel's learn buttons")
        ->expected(0, 1)
        ->type_name("[PORT]");
    command->add_option("--midi-map", options.rig.midiMapPath,
                        "the MIDI map: read at the start when it is there, written at every change (default: "
                        "tessarvander-midi-map.json in --out)")
        ->type_name("FILE");
    command->add_option("--tempo", tempoSource,
                        "where the tempo comes from: tap (Enter, OSC /tessarvander/tap, a MIDI pad), midi-clock, "
                        "link (Ableton Link) or audio (the --audio-in beats)")
        ->check(OneOf({"tap", "midi-clock", "link", "audio"}))
        ->type_name("SOURCE")
        ->capture_default_str();
    command->add_option("--audio-in", audioDevice,
                        "react to live sound from JACK (or PipeWire's JACK) or ALSA: the default input, or the "
                        "device whose name contains DEVICE")
        ->expected(0, 1)
        ->type_name("[DEVICE]");
    flags.DeclareControl(*command, "react", "--react",
                         "move a parameter by the tempo (any --tempo source) or the live sound, as render --react "
                         "does; FEATURE is beat, downbeat, beat-phase, bar-phase, a shape (lfo-sine, lfo-triangle, "
                         "lfo-saw, lfo-square, lfo-random, with rate=1b or 2bar and phase=0..1), or, with "
                         "--audio-in, level, bass, mid, treble, onset; repeatable")
        ->type_name("NAME=FROM:TO:FEATURE[,SETTING=VALUE]");
    command->add_option("--attack", options.rig.timing.attack, "how long a reaction takes to rise (default of every reaction)")
        ->check(Within(0, 10))
        ->type_name("SECONDS")
        ->capture_default_str();
    command->add_option("--release", options.rig.timing.release,
                        "how long a reaction takes to fall, and an event's pulse to fade out (default of every "
                        "reaction)")
        ->check(Within(0.001, 10))
        ->type_name("SECONDS")
        ->capture_default_str();
    command->add_option("--take", options.takePath, "record a take of the whole session to FILE")->type_name("FILE");
    command->add_option("--out", options.outFolder, "the folder for stills, videos, presets and takes (default: here)")
        ->type_name("FOLDER");
    command->add_option("--frames", options.quitAfter, "quit after this many frames")->check(Within(1, 1e12))->type_name("N");
    flags.Declare(*command, false);
    return command;
  }

  int Run() override {
    std::string error;
    if (listMonitors) {
      std::vector<std::string> monitors;
      if (!ListMonitors(monitors, error)) return Fail(kExitFailure, error);
      for (const std::string& line : monitors) std::printf("%s\n", line.c_str());
      return kExitSuccess;
    }
    // Where files go is checked now, not when the first one is saved.
    if (!options.outFolder.empty() && !IsWritableFolder(options.outFolder))
      return Fail(kExitUsage, "--out: " + options.outFolder + " is not a folder this program can write in");
    if (options.oscQueryPort > 0 && options.oscPort == 0)
      return Fail(kExitUsage, "--oscquery describes the OSC port: give --osc PORT too");
    if (!remote.empty() && !ParseHostAndPort(remote, options.remoteHost, options.remotePort))
      return Fail(kExitUsage, "--remote: \"" + Printable(remote, 80) + "\" is not PORT or HOST:PORT");
    if (options.remotePort > 0 && options.oscQueryPort > 0)
      return Fail(kExitUsage, "--remote serves OSCQuery too: give --remote alone");
    if (options.remoteReadOnly && options.remotePort == 0)
      return Fail(kExitUsage, "--remote-read-only: give --remote too");
    if (!bankFolder.empty() && !IsReadableFolder(bankFolder))
      return Fail(kExitUsage, "--bank: " + bankFolder + " is not a folder this program can read");
    if (!options.takePath.empty() && !IsWritableFolder(FolderOf(options.takePath)))
      return Fail(kExitUsage, "--take: " + FolderOf(options.takePath) + " is not a folder this program can write in");
    if (!ReadRig(error)) return Fail(kExitUsage, error);
    if (!ReadScale(error)) return Fail(kExitUsage, error);
    ParseTransition(transition, options.transition);  // checked by CLI11
    // --preset and --set choose the opening look themselves.
    const bool setsValues = std::any_of(flags.controls.begin(), flags.controls.end(),
                                        [](const auto& control) { return control.first == "set"; });
    options.startOnFirstLook = !defaults && flags.preset.empty() && !setsValues;
    WindowOptions windowOptions;
    windowOptions.width = size.width;
    windowOptions.height = size.height;
    windowOptions.vsync = !noVsync;
    windowOptions.fullscreen = monitor.has_value();
    windowOptions.monitor = monitor.value_or("");
    std::unique_ptr<GlfwWindow> window = GlfwWindow::Open(windowOptions, error);
    if (!window) return Fail(kExitFailure, error);

    CommandContext context;
    SessionOptions sessionOptions = flags.Options();
    sessionOptions.makeContext = false;
    if (!OpenSession(sessionOptions, context, error)) return Fail(kExitFailure, error);
    if (!ReadControls(flags, false, context, error)) return Fail(kExitUsage, error);
    if (!flags.preset.empty()) {
      std::vector<ParameterValue> named;
      if (LoadPreset(flags.preset, context.Names(), named, error)) options.openingPreset = flags.preset;
      options.openingPresetNames = named.size();
    }

    options.quiet = flags.quiet;
    for (const std::string& text : flags.ControlsOf("react")) {
      Reaction reaction;
      if (!ParseReaction(text, context.Names(), reaction, error)) return Fail(kExitUsage, error);
      options.rig.reactions.push_back(reaction);
    }
    if (!LiveReactions::Check(options.rig.reactions, options.rig.timing, options.rig.audioIn, error))
      return Fail(kExitUsage, error);
    // The bank is read before the show: a bad preset is refused now, and the
    // shipped looks are offered when no bank is given.
    if (!bankFolder.empty() && !options.bank.Load(bankFolder, context.Names(), error))
      return Fail(kExitUsage, error);
    std::string ignored;
    if (bankFolder.empty() && !ShippedBank().empty()) options.bank.Load(ShippedBank(), context.Names(), ignored);
    if (!cuesPath.empty()) {
      CuePlayer checked;
      if (!LoadCueSheet(cuesPath, context.Names(), options.cues, error) ||
          !checked.Load(options.cues, options.bank, "cue sheet " + Printable(cuesPath, 300), error))
        return Fail(kExitUsage, error);
      options.cuesPath = cuesPath;
    }
    WallClock clock;
    Player player(*window, clock, *context.session, *context.controls, options);
    if (!player.Run(error)) return Fail(kExitFailure, error);
    // Ctrl-C reaches only this program: the video and the take in progress
    // were finished first.
    if (Interrupted()) return Fail(kExitInterrupted, "interrupted; what was recording is saved");
    return kExitSuccess;
  }

 private:
  // --scale: auto, or a fraction of the output's size. False with one line.
  bool ReadScale(std::string& error) {
    options.autoScale = scale == "auto";
    if (options.autoScale) return true;
    double fraction = 0.0;
    if (!ParseDouble(scale, "--scale", fraction, error)) return false;
    if (fraction < 0.05 || fraction > 1.0) {
      error = "--scale: " + scale + " is not auto or a fraction from 0.05 to 1";
      return false;
    }
    options.scale = fraction;
    return true;
  }

  // The rig's options that need no plugin. False with one line.
  bool ReadRig(std::string& error) {
    RigOptions& rig = options.rig;
    ParseTempoSource(tempoSource, rig.tempo);
    rig.midi = midiPort.has_value();
    rig.midiPort = midiPort.value_or("");
    rig.audioIn = audioDevice.has_value();
    rig.audioDevice = audioDevice.value_or("");
    rig.timing.framesPerSecond = options.framesPerSecond;
    if (rig.midiMapPath.empty() && rig.midi)
      rig.midiMapPath = (options.outFolder.empty() ? "" : options.outFolder + "/") + "tessarvander-midi-map.json";
    if (!rig.midiMapPath.empty() && !IsWritableFolder(FolderOf(rig.midiMapPath))) {
      error = "--midi-map: " + FolderOf(rig.midiMapPath) + " is not a folder this program can write in";
      return false;
    }
    return true;
  }

  SessionFlags flags;
  PlayerOptions options;
  FrameSize size{1280, 720};
  std::optional<std::string> monitor;
  bool listMonitors = false;
  bool noVsync = false;
  std::string bankFolder;
  std::string cuesPath;
  std::string remote;  // [HOST:]PORT
  std::optional<std::string> midiPort;
  std::optional<std::string> audioDevice;
  std::string tempoSource = "tap";
  std::string transition = "dissolve";
  std::string scale = "auto";
  bool defaults = false;
};

}  // namespace

std::unique_ptr<Command> MakePlayCommand() { return std::make_unique<PlayCommand>(); }

}  // namespace tool
