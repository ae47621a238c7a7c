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
  return "keys: Space pause/play, F full screen, S save a still, R record a video, P save a preset,\n"
         "      T record a take, Tab show/hide the panel, Esc or Q quit";
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
  if (window) glfwDestroyWindow(window);
  glfwTerminate();
}

bool PlayerWindow::ShouldClose() const { return glfwWindowShouldClose(window); }

void PlayerWindow::PollEvents() { glfwPollEvents(); }

std::vector<PlayerAction> PlayerWindow::TakeActions() {
  std::vector<PlayerAction> taken;
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

void PlayerWindow::OnKey(GLFWwindow* handle, int key, int, int action, int) {
  if (action != GLFW_PRESS) return;
  auto* player = static_cast<PlayerWindow*>(glfwGetWindowUserPointer(handle));
  switch (key) {
    case GLFW_KEY_SPACE:
      player->actions.push_back(PlayerAction::TogglePause);
      break;
    case GLFW_KEY_F:
      player->actions.push_back(PlayerAction::ToggleFullscreen);
      break;
    case GLFW_KEY_S:
      player->actions.push_back(PlayerAction::SaveStill);
      break;
    case GLFW_KEY_R:
      player->actions.push_back(PlayerAction::ToggleRecording);
      break;
    case GLFW_KEY_P:
      player->actions.push_back(PlayerAction::SavePreset);
      break;
    case GLFW_KEY_T:
      player->actions.push_back(PlayerAction::ToggleTake);
      break;
    case GLFW_KEY_TAB:
      player->actions.push_back(PlayerAction::TogglePanel);
      break;
    case GLFW_KEY_ESCAPE:
    case GLFW_KEY_Q:
      player->actions.push_back(PlayerAction::Quit);
      break;
    default:
      break;
  }
}

}  // namespace cli
