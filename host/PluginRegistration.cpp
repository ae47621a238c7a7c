#include "PluginRegistration.h"

#include <cstddef>

static_assert(sizeof(PluginInfoRecord) == 32 && alignof(PluginExtendedInfoRecord) <= 8,
              "the extended record must follow the information record 32 bytes in");

namespace {

// The registration is a function-local static so that it is constructed on
// first use, whatever order the runtime runs the static initialisers of the
// plugin and of this file in. Its destructor runs at unload and frees the
// description first and the About text second (reverse member order).
PluginRegistration& RegistrationStorage() {
  static PluginRegistration registration;
  return registration;
}

// Zero-initialised before any code runs, so never seen half-set.
const PluginRegistration* registrationPointer = nullptr;
const PluginThumbnail* thumbnailPointer = nullptr;

// Copies until the source's NUL has been copied or the field is full; bytes
// after a copied NUL keep their zero. A full field has no terminator.
void CopyIntoField(char* field, size_t fieldSize, const char* source) {
  for (size_t i = 0; i < fieldSize; ++i) {
    field[i] = source[i];
    if (source[i] == '\0') break;
  }
}

}  // namespace

void RegisterPlugin(PluginFactory factory, const PluginIdentity& identity) {
  PluginRegistration& registration = RegistrationStorage();
  registration.about = identity.about;
  registration.description = identity.description;
  registration.initialiseHook = nullptr;
  registration.deinitialiseHook = nullptr;
  registration.factory = factory;

  PluginInfoRecord& info = registration.info;
  info.apiMajorVersion = identity.apiMajorVersion;
  info.apiMinorVersion = identity.apiMinorVersion;
  CopyIntoField(info.pluginName, sizeof info.pluginName, identity.name);
  CopyIntoField(info.uniqueId, sizeof info.uniqueId, identity.uniqueId);
  info.pluginType = identity.pluginType;

  PluginExtendedInfoRecord& extended = registration.extendedInfo;
  extended.description = registration.description.c_str();
  extended.about = registration.about.c_str();
  extended.pluginMajorVersion = identity.pluginMajorVersion;
  extended.pluginMinorVersion = identity.pluginMinorVersion;
  extended.extendedDataSize = identity.extendedDataSize;
  extended.extendedData = identity.extendedData;

  // Published last: no dispatch path can see a half-filled registration.
  registrationPointer = &registration;
}

void RegisterPluginHooks(PluginInitialiseHook initialise, PluginDeinitialiseHook deinitialise) {
  PluginRegistration& registration = RegistrationStorage();
  registration.initialiseHook = initialise;
  registration.deinitialiseHook = deinitialise;
}

const PluginRegistration* CurrentRegistration() noexcept { return registrationPointer; }

const PluginThumbnail* CurrentThumbnail() noexcept { return thumbnailPointer; }
