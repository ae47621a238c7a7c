// What the platforms' contexts share, inside hostkit only: each platform's
// file makes its own kind of context, and they all load GL the same way.
#pragma once

#include <memory>
#include <string>

#include "hostkit/GlContext.h"

namespace hostkit {

constexpr int kGlMajorVersion = 4;
constexpr int kGlMinorVersion = 1;

// Loads the host's own GL entry points into the context just made current.
bool LoadEntryPoints(std::string& error);

// The platform's context of that kind (GlContext::Create), from the
// platform's own file.
std::unique_ptr<GlContext> OpenPlatformContext(GlBackend backend, std::string& error);

template <class Context>
std::unique_ptr<GlContext> OpenContext(std::string& error) {
  auto context = std::make_unique<Context>();
  if (!context->Open(error)) return nullptr;
  return context;
}

}  // namespace hostkit
