#include "player/GlfwWindow.h"

// GLEW before GLFW, which then leaves the GL declarations to GLEW.
#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <imgui.h>

#include <cstdlib>

#include "hostkit/GlContext.h"
#include "player/Keys.h"
#include "sys/SteadyClock.h"

// Last: X11's headers define names (None, Status) the code above uses.
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>

namespace tool {
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

std::unique_ptr<GlfwWindow> GlfwWindow::Open(const WindowOptions& options, std::string& error) {
  if (!InitialiseGlfw(error)) return nullptr;
  std::unique_ptr<GlfwWindow> player(new GlfwWindow());
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
  if (Display* display = glfwGetX11Display())
    player->arrivals.Start(DisplayString(display), glfwGetX11Window(player->window));
  return player;
}

GlfwWindow::~GlfwWindow() {
  CloseOutput();
  if (window) glfwDestroyWindow(window);
  glfwTerminate();
}

bool GlfwWindow::ShouldClose() const { return glfwWindowShouldClose(window); }

void GlfwWindow::PollEvents() { glfwPollEvents(); }

std::vector<PlayerRequest> GlfwWindow::TakeRequests() {
  std::vector<PlayerRequest> taken;
  taken.swap(requests);
  return taken;
}

void GlfwWindow::FramebufferSize(int& width, int& height) const { glfwGetFramebufferSize(window, &width, &height); }

void GlfwWindow::ToggleFullscreen() {
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

void GlfwWindow::SwapBuffers() { glfwSwapBuffers(window); }

// Every press and release claims its arrival, whether it asks anything or
// not, so the claims stay in step with the arrivals.
void GlfwWindow::OnKey(GLFWwindow* handle, int key, int scancode, int action, int mods) {
  if (action == GLFW_REPEAT) return;
  auto* player = static_cast<GlfwWindow*>(glfwGetWindowUserPointer(handle));
  const bool pressed = action == GLFW_PRESS;
  const double at = handle == player->window ? player->arrivals.Claim(scancode, pressed, SteadySeconds()) : -1.0;
  if (std::optional<PlayerRequest> request = RequestForKey(key, mods, pressed)) {
    request->at = at;
    player->requests.push_back(*request);
  }
}

// ImGui takes the mouse and the keys through GLFW's callbacks, chained
// before the window's own key handling.
void GlfwWindow::StartPanel() { ImGui_ImplGlfw_InitForOpenGL(window, true); }
void GlfwWindow::NewPanelFrame() { ImGui_ImplGlfw_NewFrame(); }
void GlfwWindow::StopPanel() { ImGui_ImplGlfw_Shutdown(); }

void GlfwWindow::SetTitle(const std::string& wanted) {
  if (wanted == title) return;
  title = wanted;
  glfwSetWindowTitle(window, title.c_str());
}

bool GlfwWindow::OpenOutput(const std::string& name, std::string& error) {
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

void GlfwWindow::CloseOutput() {
  if (!output) return;
  glfwMakeContextCurrent(output);
  glDeleteFramebuffers(1, &outputReadBuffer);
  outputReadBuffer = 0;
  glfwMakeContextCurrent(window);
  glfwDestroyWindow(output);
  output = nullptr;
}

void GlfwWindow::OutputSize(int& width, int& height) const {
  width = height = 0;
  if (output) glfwGetFramebufferSize(output, &width, &height);
}

void GlfwWindow::ShowOnOutput(unsigned texture, int width, int height) {
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

}  // namespace tool
