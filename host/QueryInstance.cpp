#include "QueryInstance.h"

#include "PluginRegistration.h"

namespace {
CFFGLPlugin* queryInstance = nullptr;
}

FFResult SetUpQueryInstance() {
  const PluginRegistration* registration = CurrentRegistration();
  if (!registration) return FF_FAIL;
  if (registration->initialiseHook) {
    FFResult hookResult = registration->initialiseHook();
    if (hookResult != FF_SUCCESS) return hookResult;
  }
  if (!queryInstance) {
    CFFGLPlugin* made = nullptr;
    FFResult result = registration->factory(&made);
    if (result == FF_FAIL) {
      delete made;
      return FF_FAIL;
    }
    if (!made) return FF_FAIL;
    queryInstance = made;
  }
  return FF_SUCCESS;
}

CFFGLPlugin* QueryInstance() {
  if (queryInstance) return queryInstance;
  return SetUpQueryInstance() == FF_SUCCESS ? queryInstance : nullptr;
}

void DestroyQueryInstance() noexcept {
  delete queryInstance;
  queryInstance = nullptr;
}
