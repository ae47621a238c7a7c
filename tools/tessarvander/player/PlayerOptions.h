// What `tessarvander play` was asked for on its command line, as the player
// and its parts read it.
#pragma once

#include <cstdint>
#include <string>

#include "formats/CueSheet.h"
#include "formats/Takes.h"
#include "player/PresetBank.h"
#include "player/StageRig.h"

namespace tool {

struct PlayerOptions {
  double framesPerSecond = 60.0;  // process calls a second of wall time
  double scale = 1.0;             // of the window's size, for the preview, unless auto
  bool autoScale = true;          // the scale that holds targetPerSecond drawn frames
  double targetPerSecond = 30.0;
  double drawDelayPerMegapixel = 0.0;  // seconds, spent on the clock: a slow machine, for tests
  int oscPort = 0;                // 0: no OSC
  std::string oscHost = "127.0.0.1";
  std::string oscReply;           // HOST:PORT that hears every change, or empty
  int oscQueryPort = 0;           // the OSCQuery server's port; 0: none
  // The remote page and OSCQuery, on one server (--remote [HOST:]PORT).
  std::string remoteHost = "127.0.0.1";
  int remotePort = 0;             // 0: none
  bool remoteReadOnly = false;    // the page shows the values, changes nothing
  std::string takePath;           // a take of the whole session, when set
  std::string outFolder;          // for stills, videos, presets and takes
  PresetBank bank;                // presets for keys 1-9, 0, [ and ], read before play
  std::string openingPreset;      // --preset: a file laid over the defaults, and how many it names
  size_t openingPresetNames = 0;
  std::string outputMonitor;      // the output window's monitor, for O
  double crossfadeSeconds = 0.0;  // recalls come in over this
  Transition transition = Transition::Dissolve;
  bool startOnFirstLook = true;   // else on the plugin's own values (--defaults) or the command line's
  double blackoutSeconds = 1.0;   // B fades over this
  std::string pipewireName;       // publish the output to PipeWire as this node
  RigOptions rig;                 // MIDI, the tempo's source, live sound
  CueSheet cues;                  // --cues: followed on the tempo's grid
  std::string cuesPath;
  bool autopilot = false;         // --autopilot: on from the start
  uint64_t autopilotSeed = 1;
  double renewStepError = 0.01;   // instances are renewed before a travel step can be this far off
  double quitAfter = 0;           // frames; 0: run until closed
  bool quiet = false;
};

}  // namespace tool
