// The player's stage logic, in-process: the pace of the flight against wall
// time, the quit guard, the blackout's fade, crossfades and the bank.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ParameterTable.h"
#include "player/ScaleGovernor.h"
#include "player/TravelRenewal.h"
#include "render/Decks.h"
#include <lo/lo.h>

#include "player/FramePacer.h"
#include "formats/OscMessages.h"
#include "player/PresetBank.h"
#include "player/StageControls.h"
#include "formats/ParameterProfile.h"

namespace {

namespace fs = std::filesystem;
namespace param = tessarvander::param;

// 60 calls a second of wall time whatever the display does: a fast display
// gets no frame between due times, a slow draw gets the frames it missed at
// once, and a stall of more than ten seconds is forgiven, not replayed.
TEST(StageTest, ThePaceIsSixtyCallsASecondOfWallTime) {
  tool::FramePacer pacer(60.0);
  pacer.Restart(100.0, 0);
  long done = 0;
  // A 144 Hz display: 432 passes in three seconds.
  for (int pass = 0; pass < 432; ++pass) done += pacer.Due(100.0 + pass / 144.0, done);
  EXPECT_EQ(done, 180);
  // A draw of 0.3 s: each pass makes up the 18 frames that fell due.
  const double start = 103.0;
  for (int pass = 0; pass < 10; ++pass) done += pacer.Due(start + 0.3 * pass, done);
  EXPECT_NEAR(static_cast<double>(done), 180 + 60 * 2.7, 1.0);
  EXPECT_GT(pacer.NextDue(done), start + 2.7);
  // A paused flight restarts from where it stopped.
  pacer.Restart(200.0, done);
  EXPECT_EQ(pacer.Due(200.0, done), 1);
  // The machine slept for a minute: one frame, the rest forgiven.
  EXPECT_EQ(pacer.Due(260.0, done + 1), 1);
  EXPECT_GT(pacer.Dropped(), 3000);
}

TEST(StageTest, QuittingTakesTwoPressesWithinTwoSeconds) {
  tool::QuitGuard guard;
  EXPECT_FALSE(guard.Press(10.0));
  EXPECT_TRUE(guard.Asking(11.0));
  EXPECT_FALSE(guard.Asking(12.5));
  EXPECT_FALSE(guard.Press(13.0)) << "too late: asks again";
  EXPECT_TRUE(guard.Press(14.9));
}

// The blackout reaches exactly 0 and exactly 1 over the frames of its time;
// a crossfade of 60 frames is half way at frame 30, switches fractal type
// there, and ends on the preset's values.
TEST(StageTest, BlackoutAndCrossfadeMoveOverTheirFrames) {
  tool::Blackout blackout(0.5, 60.0);
  blackout.Toggle();
  for (int frame = 0; frame < 29; ++frame) blackout.Step();
  EXPECT_GT(blackout.Level(), 0.0f);
  blackout.Step();
  EXPECT_EQ(blackout.Level(), 0.0f);
  blackout.Toggle();
  for (int frame = 0; frame < 30; ++frame) blackout.Step();
  EXPECT_EQ(blackout.Level(), 1.0f);

  std::vector<float> from(tessarvander::kParameterCount, 0.5f);
  from[param::Brightness] = 0.2f;
  from[param::FractalType] = 0.1f;
  std::vector<bool> discrete(from.size(), false);
  discrete[param::FractalType] = true;
  tool::Crossfade fade;
  fade.Start(from, {{param::Brightness, 0.8f}, {param::FractalType, 0.9f}}, discrete, 60);
  std::vector<tool::ParameterValue> changes;
  const auto valueOf = [&](uint32_t index) {
    for (const auto& [i, v] : changes)
      if (i == index) return v;
    return -1.0f;
  };
  for (int frame = 1; frame <= 29; ++frame) fade.Step(changes);
  EXPECT_GT(valueOf(param::Brightness), 0.2f);
  EXPECT_LT(valueOf(param::Brightness), 0.5f);
  EXPECT_EQ(valueOf(param::FractalType), 0.1f);
  fade.Step(changes);  // frame 30 of 60
  EXPECT_NEAR(valueOf(param::Brightness), 0.5f, 1e-6f);
  EXPECT_EQ(valueOf(param::FractalType), 0.9f);
  while (fade.Active()) fade.Step(changes);
  EXPECT_EQ(valueOf(param::Brightness), 0.8f);
}

class BankTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tessarvander-bank-test-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  void Write(const std::string& name, const std::string& text) { std::ofstream(folder / name) << text; }
  static std::string Preset(float brightness) {
    return R"({"format": "tessarvander-preset", "version": 1, "parameters": {"Brightness": )" +
           std::to_string(brightness) + "}}";
  }
  fs::path folder;
  tool::ParameterNames names = tool::ParameterProfile::TableNames();
};

// Presets in name order, each completed with the defaults of what it does
// not name, the keys' ten slots filled with empty ones, stepped
// through both ways past the empty slots; a folder with a bad preset, none,
// or too many is refused with one line.
TEST_F(BankTest, ABankIsItsFolderInNameOrderOrRefused) {
  Write("b.json", Preset(0.2f));
  Write("a.json", Preset(0.1f));
  Write("notes.txt", "not a preset");
  tool::PresetBank bank;
  std::string error;
  ASSERT_TRUE(bank.Load(folder.string(), names, error)) << error;
  ASSERT_EQ(bank.Size(), tool::kKeySlots);
  EXPECT_EQ(bank.Name(0), "a");
  ASSERT_EQ(bank.Values(1).size(), names.Parameters().size()) << "a look holds every parameter";
  EXPECT_EQ(bank.Values(1)[tessarvander::param::Brightness].value, 0.2f);
  EXPECT_EQ(bank.Values(1)[tessarvander::param::Zoom].value, 0.5f) << "the default of what it does not name";
  EXPECT_EQ(bank.Partial(), 2u);
  EXPECT_TRUE(bank.Empty(2));
  EXPECT_EQ(bank.Name(2), "empty");
  EXPECT_EQ(bank.Next(), 0u);
  bank.Recalled(0);
  EXPECT_EQ(bank.Previous(), 1u) << "round past the empty slots";
  EXPECT_EQ(bank.Next(), 1u);
  bank.Recalled(1);
  EXPECT_EQ(bank.Next(), 0u);

  Write("c.json", "{\"format\": \"tessarvander-preset\",\n \"version\": 2}");
  EXPECT_FALSE(bank.Load(folder.string(), names, error));
  EXPECT_NE(error.find("c.json"), std::string::npos) << error;
  fs::remove(folder / "c.json");
  for (int i = 0; i < 100; ++i) Write("many" + std::to_string(i) + ".json", Preset(0.5f));
  EXPECT_FALSE(bank.Load(folder.string(), names, error));
  EXPECT_NE(error.find("more than 100 presets"), std::string::npos) << error;
  EXPECT_FALSE(bank.Load((folder / "missing").string(), names, error));
  EXPECT_FALSE(bank.Load("/dev/null", names, error));
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

// OSC recalls count from 1 as the keys do; anything else is refused.
TEST(StageTest, OscRecallsAndBlackoutsAreDecodedOrRefused) {
  const tool::ParameterNames names = tool::ParameterProfile::TableNames();
  const auto decode = [&](const char* types, float number) {
    lo_message message = lo_message_new();
    if (types[0] == 'f') lo_message_add_float(message, number);
    if (types[0] == 'i') lo_message_add_int32(message, static_cast<int32_t>(number));
    size_t size = 0;
    void* bytes = lo_message_serialise(message, "/tessarvander/preset/recall", nullptr, &size);
    lo_message_free(message);
    tool::OscDecoded decoded = tool::DecodeOsc(static_cast<char*>(bytes), size, names);
    free(bytes);
    return decoded;
  };
  const tool::OscDecoded third = decode("i", 3);
  ASSERT_TRUE(third.ok) << third.why;
  EXPECT_EQ(third.command.request.action, tool::PlayerAction::RecallPreset);
  EXPECT_EQ(third.command.request.number, 2);
  for (float bad : {0.0f, -1.0f, 2.5f, 1e30f}) EXPECT_FALSE(decode("f", bad).ok) << bad;
  EXPECT_FALSE(decode("", 0).ok);
}

// Bundles: their messages in order with the bundle's time tag, nested ones
// too; a malformed, empty, too deep or too full bundle is one refusal.
TEST(StageTest, OscBundlesAreDecodedOrRefusedWhole) {
  const tool::ParameterNames names = tool::ParameterProfile::TableNames();
  const auto serialise = [](lo_bundle bundle) {
    size_t size = 0;
    void* bytes = lo_bundle_serialise(bundle, nullptr, &size);
    std::string data(static_cast<char*>(bytes), size);
    free(bytes);
    return data;
  };
  const auto decode = [&](std::string data) { return tool::DecodeOscPacket(data.data(), data.size(), names); };
  lo_timetag later = {3900000000u, 0x80000000u};
  lo_bundle bundle = lo_bundle_new(later);
  lo_message set = lo_message_new(), query = lo_message_new();
  lo_message_add_float(set, 0.3f);
  lo_bundle_add_message(bundle, "/tessarvander/param/hue", set);
  lo_bundle_add_message(bundle, "/tessarvander/param/hue", query);
  const std::string bytes = serialise(bundle);
  const std::vector<tool::OscDecoded> decoded = decode(bytes);
  ASSERT_EQ(decoded.size(), 2u);
  EXPECT_EQ(decoded[0].command.request.action, tool::PlayerAction::SetParameter);
  EXPECT_EQ(decoded[1].command.request.action, tool::PlayerAction::QueryParameter);
  EXPECT_EQ(decoded[1].timeTag, (uint64_t{3900000000u} << 32) | 0x80000000u);

  // A bundle inside a bundle, by hand: "#bundle", a tag, a sized element.
  const auto wrapped = [](const std::string& inner, char tagSeconds = 0) {
    std::string outer("#bundle\0\0\0\0\0\0\0\0\1", 16);
    outer[8] = tagSeconds;
    const uint32_t size = static_cast<uint32_t>(inner.size());
    outer += std::string{char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    return outer + inner;
  };
  EXPECT_EQ(decode(wrapped(bytes)).size(), 2u);
  // OSC forbids an inner bundle earlier than the one around it.
  EXPECT_NE(decode(wrapped(bytes, char(0xf0))).front().why.find("earlier time tag"), std::string::npos);
  std::string deep = bytes;
  for (int depth = 0; depth < 9; ++depth) deep = wrapped(deep);
  EXPECT_NE(decode(deep).front().why.find("nested more than"), std::string::npos);
  std::string cut = bytes;
  cut[19] = 99;  // the first element claims more bytes than there are
  EXPECT_NE(decode(cut).front().why.find("wrong size"), std::string::npos);
  EXPECT_NE(decode(std::string("#bundle\0\0\0\0\0\0\0\0\1", 16)).front().why.find("empty"), std::string::npos);
  lo_bundle full = lo_bundle_new(LO_TT_IMMEDIATE);
  for (int i = 0; i < 65; ++i) lo_bundle_add_message(full, "/tessarvander/pause", lo_message_new());
  const std::vector<tool::OscDecoded> tooMany = decode(serialise(full));
  ASSERT_EQ(tooMany.size(), 1u);
  EXPECT_NE(tooMany.front().why.find("more than 64 messages"), std::string::npos);
  lo_bundle_free_recursive(full);
  lo_bundle_free_recursive(bundle);
}

}  // namespace

namespace {

// A second of passes at 60 a second (or as fast as they go), each drawing
// for what `draw` costs at the scale of the moment and working `rest`
// besides; the scale after it.
template <class Draw>
double Second(tool::ScaleGovernor& governor, double& now, Draw draw, double rest) {
  for (double end = now + 1.0; now < end;) {
    const double drawing = draw(governor.Scale());
    now += std::max(1.0 / 60.0, drawing + rest);
    governor.Update(now, true, drawing, drawing + rest);
  }
  return governor.Scale();
}

}  // namespace

// --scale auto's steps: a draw that costs is stepped down from; a fixed cost
// that no size changes (presenting, the panel) is not chased; headroom
// steps back up, three seconds apart and not within eight of a step down,
// so the size settles instead of pumping.
TEST(StageTest, TheDrawingScaleFollowsWhatTheDrawCostsAndComesBack) {
  tool::ScaleGovernor slowDraws(30.0);
  double now = 0.0;
  std::vector<double> scales;
  for (int second = 0; second < 20; ++second) {
    // A full-size draw costs 80 ms; it shrinks with the pixels.
    scales.push_back(Second(slowDraws, now, [](double scale) { return 0.080 * scale * scale; }, 0.004));
  }
  EXPECT_EQ(scales.back(), 0.5) << "the largest size that holds 30 a second";
  for (size_t k = 10; k < scales.size(); ++k) EXPECT_EQ(scales[k], scales.back()) << "it settles: " << k;

  tool::ScaleGovernor fixedCost(30.0);
  now = 0.0;
  for (int second = 0; second < 10; ++second) Second(fixedCost, now, [](double) { return 0.004; }, 0.040);
  EXPECT_EQ(fixedCost.Scale(), 1.0) << "a smaller picture would not draw faster";

  // Headroom again: back up, a step at a time.
  std::vector<std::pair<double, double>> ups;
  for (int second = 0; second < 20; ++second) {
    const double before = slowDraws.Scale();
    if (Second(slowDraws, now, [](double) { return 0.002; }, 0.002) != before) ups.push_back({now, slowDraws.Scale()});
  }
  ASSERT_EQ(ups.size(), 2u);
  EXPECT_EQ(ups.back().second, 1.0);
  EXPECT_GE(ups[1].first - ups[0].first, 3.0);
}

namespace {

// Days of a flight through the model of the plugin's travel clock, with
// the instances renewed as the player renews them (the old one on screen
// until the fresh one has settled and dissolved in): the step on screen,
// averaged over each minute, against the first hour's. `renew` false is
// the plugin alone.
struct LongRun {
  double worstDrift = 0.0;  // the largest share a minute's mean step is off the first hour's
  long renewals = 0;
  float lastClock = 0.0f;
};
LongRun RunForDays(double days, float speed, float direction, bool renew) {
  constexpr long kMinute = 3600, kHour = 60 * kMinute;
  tool::TravelRenewal onScreen, fresh;
  long freshFrames = -1;  // frames since the fresh one started; -1: none
  LongRun run;
  double hourSum = 0.0, minuteSum = 0.0, firstHour = 0.0;
  const long frames = static_cast<long>(days * 24 * kHour);
  for (long frame = 0; frame < frames; ++frame) {
    if (renew && freshFrames < 0 && onScreen.RenewNow(true)) {
      fresh.Restart();
      freshFrames = 0;
      ++run.renewals;
    }
    const float before = onScreen.Clock();
    onScreen.Frame(speed, direction);
    const double step = static_cast<double>(onScreen.Clock()) - before;
    if (freshFrames >= 0) {
      fresh.Frame(speed, direction);
      if (++freshFrames == tool::Decks::kSettleFrames + 120) onScreen = fresh, freshFrames = -1;
    }
    if (frame < kHour) hourSum += step;
    if (frame == kHour - 1) firstHour = hourSum / kHour;
    minuteSum += step;
    if ((frame + 1) % kMinute == 0) {
      if (frame >= kHour) run.worstDrift = std::max(run.worstDrift, std::fabs(minuteSum / kMinute / firstHour - 1.0));
      minuteSum = 0.0;
    }
  }
  run.lastClock = onScreen.Clock();
  return run;
}

}  // namespace

// The plugin's clock alone drifts past 1 % within hours and stops at 106;
// renewed as the player renews it, the travel step on screen stays within
// 1 % of the first hour's for days, at any speed, going either way; a
// flight easing to a standstill is not renewed over and over.
TEST(StageTest, RenewedInstancesKeepTheTravelsSpeedForDays) {
  const LongRun alone = RunForDays(5.0, 0.3f, 1.0f, false);
  EXPECT_GT(alone.worstDrift, 0.5) << "the plugin's own clock, over five days";
  for (const auto& [speed, direction] : {std::pair{0.3f, 1.0f}, {1.0f, 1.0f}, {0.05f, 1.0f}, {0.6f, 0.0f}}) {
    SCOPED_TRACE(testing::Message() << "speed " << speed << ", direction " << direction);
    const LongRun renewed = RunForDays(3.0, speed, direction, true);
    EXPECT_LT(renewed.worstDrift, 0.01);
    EXPECT_GT(renewed.renewals, 0);
    EXPECT_LT(renewed.renewals, 3 * 24 * 4) << "no more than one each quarter hour";
  }
  const LongRun still = RunForDays(1.0, 0.3f, 0.5f, true);
  EXPECT_EQ(still.renewals, 0) << "a flight that stands still needs no renewal";
}
