// The live player in-process, for its tests: the real plugin in a headless
// GL context, a headless window, and a clock the test turns. A pass of the
// loop waits for the next frame by turning the clock to it, so a show of a
// thousand frames plays in moments, and the same way every time.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "output/FrameSink.h"
#include "player/Clock.h"
#include "player/HeadlessWindow.h"
#include "player/Player.h"
#include "session/HostSession.h"

namespace playertest {

namespace fs = std::filesystem;

// Time that moves only when the player waits or the test turns it.
class TurnedClock : public tool::Clock {
 public:
  double Now() const override { return now; }
  void SleepUntil(double when) override { now = std::max(now, when); }
  void Turn(double seconds) { now += seconds; }

 private:
  double now = 1000.0;
};

// Frames kept in memory, for comparing a render with what the player showed.
class MemorySink : public tool::FrameSink {
 public:
  bool Write(const uint8_t* rgba, long, std::string&) override {
    frames.emplace_back(rgba, rgba + bytes);
    return true;
  }
  bool Finish(std::string&) override { return true; }
  std::string Describe() const override { return "memory"; }
  size_t bytes = 0;
  std::vector<std::vector<uint8_t>> frames;
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the player with `options` (quiet, --out in the test's folder).
  void Start();
  // Passes of the loop until `frames` more frames of the flight went by.
  void PlayFrames(long frames);
  // One pass of the loop.
  void Pass();
  // Ends the show as closing the window does; the player's last words.
  void Finish();

  // A bank folder of looks, each "NAME": {"Parameter": value, ...}.
  std::string Bank(const std::vector<std::pair<std::string, std::string>>& looks);
  std::string Path(const std::string& name) const { return (folder / name).string(); }
  // The picture of the take's frame `frame`, rendered in-process.
  std::vector<uint8_t> RenderTakeFrame(const std::string& take, long frame);
  long Shown() const { return player->Show().Live().ShownFrames(); }
  float Value(uint32_t index) const { return player->Show().Live().Values()[index]; }
  bool Said(const std::string& part) const;

  static tool::HostSession& Session();

  fs::path folder;
  TurnedClock clock;
  tool::HeadlessWindow window;
  tool::PlayerOptions options;
  std::unique_ptr<tool::ParameterControls> controls;
  std::unique_ptr<tool::Player> player;
};

}  // namespace playertest
