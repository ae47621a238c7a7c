#include "QueryInstance.h"

#include <memory>

#include "PluginRegistration.h"

namespace {

std::mutex& QueryInstanceMutex() {
  static std::mutex mutex;
  return mutex;
}

// Destroyed at unload, which frees the instance of a host that never sent
// code 2.
std::unique_ptr<CFFGLPlugin> queryInstance;

}  // namespace

QueryInstanceLock::QueryInstanceLock() : guard(QueryInstanceMutex()) {}

FFResult SetUpQueryInstance(const QueryInstanceLock&) {
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
    queryInstance.reset(made);
  }
  return FF_SUCCESS;
}

CFFGLPlugin* QueryInstance(const QueryInstanceLock& lock) {
  if (queryInstance) return queryInstance.get();
  return SetUpQueryInstance(lock) == FF_SUCCESS ? queryInstance.get() : nullptr;
}

void DestroyQueryInstance(const QueryInstanceLock&) noexcept { queryInstance.reset(); }
