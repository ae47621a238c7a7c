// What every platform's context shares: loading GL, the sanitizer's needs,
// and the backends' names. The contexts themselves are in GlContextEgl.cpp
// and GlContextGlx.cpp (Linux) and GlContextWgl.cpp (Windows).
#include "hostkit/GlContext.h"

#include <GL/glew.h>

#include <cstring>

#include "hostkit/GlContextPlatform.h"

// GCC says __SANITIZE_ADDRESS__, clang __has_feature(address_sanitizer).
#if defined(__has_feature)
#if __has_feature(address_sanitizer) && !defined(__SANITIZE_ADDRESS__)
#define __SANITIZE_ADDRESS__ 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

namespace hostkit {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's defaults for every program that makes GL contexts
// (the tool, the tests, the fuzzer, the benchmarks).
//
// intercept_tls_get_addr=0: LeakSanitizer crashed at exit ("Tracer caught
// signal 11") in about half of the tool's video renders. The cause is in the
// sanitizer runtime (GCC 12's libasan and clang 14's alike), not here: its
// __tls_get_addr interceptor records each thread's dynamic TLS blocks, and
// when a block returned by glibc happens to start 16 bytes past a 4 KiB
// boundary it assumes a glibc 2.19 header in front of it and reads the
// block's bounds from there ("glibc >=2.19 suspected" at verbosity 2). glibc
// 2.36 keeps no such header, so the bounds are whatever lies there, and the
// leak check's scan of that range faults. The block in question is the
// dynamic TLS of Mesa's swrast_dri.so, allocated through ASan's malloc at an
// address that depends on everything allocated before it (a longer output
// path was enough to flip it). Without the interceptor, dynamic TLS blocks
// are still found as heap blocks reachable from the thread's DTV, so leak
// detection stays on. See docs/reliability.md.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}

// Under AddressSanitizer: keeps the GL driver's modules loaded to the end of
// the process, so that LeakSanitizer can name them in its reports (and its
// suppressions can match them) instead of an anonymous unloaded module.
void PinDriverModules() {
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void*) {
        const char* name = info->dlpi_name;
        if (name && (std::strstr(name, "mesa") || std::strstr(name, "/dri/") || std::strstr(name, "LLVM") ||
                     std::strstr(name, "glapi") || std::strstr(name, "gallium")))
          dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}
#else
void PinDriverModules() {}
#endif

}  // namespace

// Under EGL, GLEW answers "no GLX display" after it has loaded every GL
// function; that answer is fine here.
bool LoadEntryPoints(std::string& error) {
  KeepGlDriverLoaded();
  GLenum answer = glewInit();
  if (answer == GLEW_OK) return true;
#if defined(GLEW_ERROR_NO_GLX_DISPLAY)
  if (answer == GLEW_ERROR_NO_GLX_DISPLAY && glGetString(GL_VERSION)) return true;
#endif
  error = std::string("GL: cannot load the GL entry points: ") +
          reinterpret_cast<const char*>(glewGetErrorString(answer));
  return false;
}

void KeepGlDriverLoaded() { PinDriverModules(); }

std::unique_ptr<GlContext> GlContext::Create(GlBackend backend, std::string& error) {
  return OpenPlatformContext(backend, error);
}

namespace {
constexpr struct {
  GlBackend backend;
  const char* name;
} kBackends[] = {{GlBackend::Egl, "egl"}, {GlBackend::Glx, "glx"}, {GlBackend::Wgl, "wgl"}};
}  // namespace

bool ParseGlBackend(const std::string& name, GlBackend& backend) {
  for (const auto& known : kBackends)
    if (name == known.name) return backend = known.backend, true;
  return false;
}

const char* GlBackendName(GlBackend backend) {
  for (const auto& known : kBackends)
    if (backend == known.backend) return known.name;
  return "egl";
}

}  // namespace hostkit
