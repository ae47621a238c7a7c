#include "CommandSupport.h"

#include <GL/glew.h>

#include <csignal>
#include <cstdio>

namespace cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "tessarvander: %s\n", message.c_str());
  return code;
}

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

bool Interrupted() { return interrupted != 0; }

std::vector<OptionSpec> SessionOptionSpecs() {
  return {{"plugin", nullptr, true}, {"gl", nullptr, true}, {"quiet", "q", false}, {"set", nullptr, true}};
}

bool ReadSessionOptions(const ParsedOptions& parsed, SessionOptions& options, std::string& error) {
  options.pluginPath = parsed.Value("plugin", DefaultPluginPath());
  const std::string backend = parsed.Value("gl", "egl");
  if (!hostkit::ParseGlBackend(backend, options.backend)) {
    error = "--gl: \"" + backend + "\" is not egl or glx";
    return false;
  }
  return true;
}

bool OpenSession(const SessionOptions& options, CommandContext& context, std::string& error) {
  context.session = HostSession::Open(options, error);
  return context.session != nullptr;
}

bool ReadControls(const ParsedOptions& parsed, bool allowRamps, CommandContext& context, std::string& error) {
  context.controls = std::make_unique<ParameterControls>(context.session->Parameters());
  for (const std::string& set : parsed.Values("set"))
    if (!context.controls->AddSet(set, error)) return false;
  if (allowRamps)
    for (const std::string& ramp : parsed.Values("ramp"))
      if (!context.controls->AddRamp(ramp, error)) return false;
  return true;
}

bool AdvanceFrames(FrameDriver& driver, hostkit::FrameTarget& scratch, long firstFrame, long frames) {
  glBindFramebuffer(GL_FRAMEBUFFER, scratch.FrameBuffer());
  glViewport(0, 0, 1, 1);
  for (long frame = 0; frame < frames; ++frame) {
    if (Interrupted() || !driver.Process(firstFrame + frame, 0.0)) return false;
  }
  return true;
}

}  // namespace cli
