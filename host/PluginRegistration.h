// The one plugin this library holds: its identity records, its texts and its
// factory, filled once by a static initialiser of the plugin class when the
// library is loaded, and read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "FFGL.h"
#include "FFGLPlugin.h"

using PluginInitialiseHook = FFResult (*)();
using PluginDeinitialiseHook = FFResult (*)();

struct PluginRegistration {
  // The host reads these two records straight from here, so they come first
  // and next to each other: the extended record starts 32 bytes in.
  PluginInfoRecord info{};
  PluginExtendedInfoRecord extendedInfo{};
  std::string about;
  std::string description;
  PluginFactory factory = nullptr;
  PluginInitialiseHook initialiseHook = nullptr;
  PluginDeinitialiseHook deinitialiseHook = nullptr;
};

struct PluginIdentity {
  const char* uniqueId;  // four characters
  const char* name;      // up to sixteen are kept
  uint32_t apiMajorVersion;
  uint32_t apiMinorVersion;
  uint32_t pluginMajorVersion;
  uint32_t pluginMinorVersion;
  uint32_t pluginType;
  const char* description;
  const char* about;
  uint32_t extendedDataSize;
  void* extendedData;
};

// Fills the registration and publishes it. Call once, from a static
// initialiser; the texts are copied.
void RegisterPlugin(PluginFactory factory, const PluginIdentity& identity);

// Optional plugin-level hooks, for a plugin that needs them: call right after
// RegisterPlugin from the same static initialiser. This plugin sets none.
void RegisterPluginHooks(PluginInitialiseHook initialise, PluginDeinitialiseHook deinitialise);

// The published registration, or null before RegisterPlugin has finished.
const PluginRegistration* CurrentRegistration() noexcept;

// A plugin-wide thumbnail; this library never registers one, so the answer
// is always null.
struct PluginThumbnail {
  uint32_t width;
  uint32_t height;
  const uint32_t* pixels;  // width * height pixels of 4 bytes
};
const PluginThumbnail* CurrentThumbnail() noexcept;
