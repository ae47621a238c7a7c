#include "PlayerHarness.h"

#include <unistd.h>

#include <fstream>

#include "formats/Takes.h"
#include "render/RenderJob.h"
#include "render/RenderPlan.h"
#include "render/RenderTimeline.h"
#include "sys/Interrupts.h"

namespace playertest {

tool::HostSession& PlayerTest::Session() {
  // One plugin and one headless context for the whole test program.
  static std::unique_ptr<tool::HostSession> session = [] {
    std::string error;
    tool::SessionOptions sessionOptions;
    sessionOptions.pluginPath = tool::DefaultPluginPath();
    auto opened = tool::HostSession::Open(sessionOptions, error);
    if (!opened) ADD_FAILURE() << error;
    return opened;
  }();
  return *session;
}

void PlayerTest::SetUp() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  folder = fs::temp_directory_path() /
           ("tessarvander-player-" + std::to_string(getpid()) + "-" + std::string(test->name()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  Session();
  std::string error;
  ASSERT_TRUE(window.Create(160, 90, error)) << error;
  options.quiet = true;
  options.outFolder = folder.string();
  controls = std::make_unique<tool::ParameterControls>(tool::ParameterNames(Session().Parameters()));
}

void PlayerTest::TearDown() {
  player.reset();
  tool::ForgetInterrupt();
  if (!std::getenv("KEEP")) fs::remove_all(folder);
}

void PlayerTest::Start() {
  player = std::make_unique<tool::Player>(window, clock, Session(), *controls, options);
  std::string error;
  ASSERT_TRUE(player->Start(error)) << error;
}

void PlayerTest::Pass() {
  std::string error;
  ASSERT_TRUE(player->Pass(error)) << error;
}

void PlayerTest::PlayFrames(long frames) {
  const long until = Shown() + frames;
  for (int pass = 0; Shown() < until && !player->Done(); ++pass) {
    ASSERT_LT(pass, 100 * frames + 100) << "the flight does not move";
    Pass();
  }
}

void PlayerTest::Finish() {
  std::string error;
  EXPECT_TRUE(player->Finish(error)) << error;
}

std::string PlayerTest::Bank(const std::vector<std::pair<std::string, std::string>>& looks) {
  const fs::path bank = folder / "bank";
  fs::create_directories(bank);
  for (const auto& [name, parameters] : looks)
    std::ofstream(bank / (name + ".json"))
        << R"({"format": "tessarvander-preset", "version": 1, "parameters": {)" << parameters << "}}";
  return bank.string();
}

bool PlayerTest::Said(const std::string& part) const {
  for (const tool::Console::Line& line : player->Messages().Recent())
    if (line.text.find(part) != std::string::npos) return true;
  return false;
}

// As `render --take PATH --frames N -o still.png` draws it: the N-th frame
// of the take, at the player's picture size.
std::vector<uint8_t> PlayerTest::RenderTakeFrame(const std::string& path, long frames) {
  std::string error;
  tool::Take take;
  EXPECT_TRUE(tool::LoadTake(path, controls->Names(), take, error)) << error;
  tool::FrameRequest request;
  request.still = true;
  request.framesGiven = true;
  request.frames = frames;
  request.framesPerSecond = take.framesPerSecond;
  const tool::FramePlan plan = tool::PlanTake(request, take);
  tool::RenderTimeline timeline(*controls, plan.preRoll, plan.output, &take);
  tool::RenderJob job;
  job.width = player->Picture().Width();
  job.height = player->Picture().Height();
  job.framesPerSecond = take.framesPerSecond;
  job.preRoll = plan.preRoll;
  job.end = plan.output;
  MemorySink sink;
  sink.bytes = static_cast<size_t>(job.width) * job.height * 4;
  EXPECT_EQ(tool::RunRender(Session(), timeline, job, sink, error), tool::RenderOutcome::Done) << error;
  return sink.frames.empty() ? std::vector<uint8_t>() : sink.frames.back();
}

}  // namespace playertest
