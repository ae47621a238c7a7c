#include "player/PlayerWindow.h"

// GLEW before GLFW, which then leaves the GL declarations to GLEW.
#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <cstdlib>

#include "GlContext.h"

namespace cli {
namespace {

const char* kNoDisplay =
    "play needs a display: run it on a desktop, or under a virtual X server (xvfb-run tessarvander play ...); "
    "'tessarvander render' writes files without one";

// GLFW reports errors through a callback; the last one explains a failure.
std::string lastGlfwError;
void OnGlfwError(int, const char* description) { lastGlfwError = description ? description : ""; }

bool InitialiseGlfw(std::string& error) {
  glfwSetErrorCallback(OnGlfwError);
  if (!glfwInit()) {
    error = kNoDisplay;
    return false;
  }
  return true;
}

GLFWmonitor* FindMonitor(const std::string& wanted) {
  int count = 0;
  GLFWmonitor** monitors = glfwGetMonitors(&count);
  if (wanted.empty() || count == 0) return glfwGetPrimaryMonitor();
  char* end = nullptr;
  const long index = std::strtol(wanted.c_str(), &end, 10);
  if (end && *end == '\0' && index >= 0 && index < count) return monitors[index];
  for (int i = 0; i < count; ++i)
    if (wanted == glfwGetMonitorName(monitors[i])) return monitors[i];
  return nullptr;
}

}  // namespace

const char* KeyHelp() {
  return "keys: Space pause/play, F full screen, Esc leave full screen, O output window on/off,\n"
         "      S save a still, R record a video, P save a preset, T record a take,\n"
         "      1-9 and 0 recall a preset of the bank, [ and ] the one before or after,\n"
         "      Enter tap the tempo, B blackout, Tab show/hide the panel, H or ? these keys,\n"
         "      Q twice or Ctrl+Q quit";
}

bool ListMonitors(std::vector<std::string>& monitors, std::string& error) {
  if (!InitialiseGlfw(error)) return false;
  int count = 0;
  GLFWmonitor** all = glfwGetMonitors(&count);
  for (int i = 0; i < count; ++i) {
    const GLFWvidmode* mode = glfwGetVideoMode(all[i]);
    monitors.push_back(std::to_string(i) + ": " + glfwGetMonitorName(all[i]) +
                       (mode ? " (" + std::to_string(mode->width) + "x" + std::to_string(mode->height) + ")" : ""));
  }
  glfwTerminate();
  return true;
}

std::unique_ptr<PlayerWindow> PlayerWindow::Open(const WindowOptions& options, std::string& error) {
  if (!InitialiseGlfw(error)) return nullptr;
  std::unique_ptr<PlayerWindow> player(new PlayerWindow());
  player->options = options;
  GLFWmonitor* monitor = nullptr;
  if (options.fullscreen) {
    monitor = FindMonitor(options.monitor);
    if (!monitor) {
      error = "--fullscreen: no monitor \"" + options.monitor + "\" (see --list-monitors)";
      return nullptr;
    }
  }
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
  glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
  glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
  int width = options.width, height = options.height;
  if (monitor) {
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    width = mode->width;
    height = mode->height;
  }
  player->window = glfwCreateWindow(width, height, "Tessarvander", monitor, nullptr);
  if (!player->window) {
    error = "cannot open a window with OpenGL 4.1 core (" + lastGlfwError + ")";
    return nullptr;
  }
  player->fullscreen = monitor != nullptr;
  player->windowedWidth = options.width;
  player->windowedHeight = options.height;
  glfwMakeContextCurrent(player->window);
  glfwSwapInterval(options.vsync ? 1 : 0);
  glewExperimental = GL_TRUE;
  const GLenum loaded = glewInit();
  // Under an EGL-backed window GLEW answers "no GLX display" after loading
  // every GL function; that is fine.
  if (loaded != GLEW_OK && !(loaded == GLEW_ERROR_NO_GLX_DISPLAY && glGetString(GL_VERSION))) {
    error = std::string("GL: cannot load the GL entry points: ") +
            reinterpret_cast<const char*>(glewGetErrorString(loaded));
    return nullptr;
  }
  hostkit::KeepGlDriverLoaded();
  glfwSetWindowUserPointer(player->window, player.get());
  glfwSetKeyCallback(player->window, OnKey);
  return player;
}

PlayerWindow::~PlayerWindow() {
  CloseOutput();
  if (window) glfwDestroyWindow(window);
  glfwTerminate();
}

bool PlayerWindow::ShouldClose() const { return glfwWindowShouldClose(window); }

void PlayerWindow::PollEvents() { glfwPollEvents(); }

std::vector<PlayerRequest> PlayerWindow::TakeActions() {
  std::vector<PlayerRequest> taken;
  taken.swap(actions);
  return taken;
}

void PlayerWindow::FramebufferSize(int& width, int& height) const { glfwGetFramebufferSize(window, &width, &height); }

void PlayerWindow::ToggleFullscreen() {
  if (fullscreen) {
    glfwSetWindowMonitor(window, nullptr, windowedX, windowedY, windowedWidth, windowedHeight, GLFW_DONT_CARE);
  } else {
    GLFWmonitor* monitor = FindMonitor(options.monitor);
    if (!monitor) return;
    glfwGetWindowPos(window, &windowedX, &windowedY);
    glfwGetWindowSize(window, &windowedWidth, &windowedHeight);
    const GLFWvidmode* mode = glfwGetVideoMode(monitor);
    glfwSetWindowMonitor(window, monitor, 0, 0, mode->width, mode->height, mode->refreshRate);
  }
  fullscreen = !fullscreen;
  glfwSwapInterval(options.vsync ? 1 : 0);
}

void PlayerWindow::SwapBuffers() { glfwSwapBuffers(window); }

void PlayerWindow::OnKey(GLFWwindow* handle, int key, int, int action, int mods) {
  if (action != GLFW_PRESS) return;
  auto* player = static_cast<PlayerWindow*>(glfwGetWindowUserPointer(handle));
  std::vector<PlayerRequest>& actions = player->actions;
  if (key >= GLFW_KEY_1 && key <= GLFW_KEY_9) return actions.push_back({PlayerAction::RecallPreset, key - GLFW_KEY_1});
  switch (key) {
    case GLFW_KEY_0:
      return actions.push_back({PlayerAction::RecallPreset, 9});
    case GLFW_KEY_SPACE:
      return actions.push_back(PlayerAction::TogglePause);
    case GLFW_KEY_F:
      return actions.push_back(PlayerAction::ToggleFullscreen);
    case GLFW_KEY_ESCAPE:
      return actions.push_back(PlayerAction::LeaveFullscreen);
    case GLFW_KEY_O:
      return actions.push_back(PlayerAction::ToggleOutput);
    case GLFW_KEY_S:
      return actions.push_back(PlayerAction::SaveStill);
    case GLFW_KEY_R:
      return actions.push_back(PlayerAction::ToggleRecording);
    case GLFW_KEY_P:
      return actions.push_back(PlayerAction::SavePreset);
    case GLFW_KEY_T:
      return actions.push_back(PlayerAction::ToggleTake);
    case GLFW_KEY_B:
      return actions.push_back(PlayerAction::ToggleBlackout);
    case GLFW_KEY_LEFT_BRACKET:
      return actions.push_back(PlayerAction::PreviousPreset);
    case GLFW_KEY_RIGHT_BRACKET:
      return actions.push_back(PlayerAction::NextPreset);
    case GLFW_KEY_TAB:
      return actions.push_back(PlayerAction::TogglePanel);
    case GLFW_KEY_ENTER:
    case GLFW_KEY_KP_ENTER:
      return actions.push_back(PlayerAction::Tap);
    case GLFW_KEY_H:
    case GLFW_KEY_SLASH:  // ? on most layouts
      return actions.push_back(PlayerAction::ToggleHelp);
    case GLFW_KEY_Q:
      return actions.push_back((mods & GLFW_MOD_CONTROL) ? PlayerAction::Quit : PlayerAction::AskToQuit);
    default:
      return;
  }
}

bool PlayerWindow::OpenOutput(const std::string& name, std::string& error) {
  if (output) return true;
  GLFWmonitor* monitor = FindMonitor(name);
  if (!monitor) {
    error = "--output-monitor: no monitor \"" + name + "\" (see --list-monitors)";
    return false;
  }
  const GLFWvidmode* mode = glfwGetVideoMode(monitor);
  // Shares the first window's objects: the picture's texture is drawn once.
  output = glfwCreateWindow(mode->width, mode->height, "Tessarvander output", monitor, window);
  if (!output) {
    error = "cannot open the output window (" + lastGlfwError + ")";
    return false;
  }
  glfwSetWindowUserPointer(output, this);
  glfwSetKeyCallback(output, OnKey);
  glfwMakeContextCurrent(output);
  glfwSwapInterval(options.vsync ? 1 : 0);
  glGenFramebuffers(1, &outputReadBuffer);
  glfwMakeContextCurrent(window);
  return true;
}

void PlayerWindow::CloseOutput() {
  if (!output) return;
  glfwMakeContextCurrent(output);
  glDeleteFramebuffers(1, &outputReadBuffer);
  outputReadBuffer = 0;
  glfwMakeContextCurrent(window);
  glfwDestroyWindow(output);
  output = nullptr;
}

void PlayerWindow::OutputSize(int& width, int& height) const {
  width = height = 0;
  if (output) glfwGetFramebufferSize(output, &width, &height);
}

void PlayerWindow::ShowOnOutput(unsigned texture, int width, int height) {
  if (!output) return;
  if (glfwWindowShouldClose(output)) {
    CloseOutput();
    return;
  }
  // Frame buffers are not shared between contexts; the texture is.
  glfwMakeContextCurrent(output);
  int outputWidth = 0, outputHeight = 0;
  glfwGetFramebufferSize(output, &outputWidth, &outputHeight);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, outputReadBuffer);
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glViewport(0, 0, outputWidth, outputHeight);
  glBlitFramebuffer(0, 0, width, height, 0, 0, outputWidth, outputHeight, GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glfwSwapBuffers(output);
  glfwMakeContextCurrent(window);
}

}  // namespace cli
