// The query instance: one private plugin instance, made through the factory
// on demand, that answers the host's questions about the plugin as a whole
// (parameter names, defaults, types, capabilities). It never gets GL, defaults
// or an owner link; only its registry and GetPluginData are used.
//
// A plugin scanner may ask these questions on a thread of its own while the
// render thread works, so the query instance is only reached through a
// QueryInstanceLock: codes that make, read and delete it never overlap. The
// lock is never taken on the frame path: instance codes read the instance's
// own records, which are the same.
#pragma once

#include <mutex>

#include "FFGLPlugin.h"

// Held for as long as the query instance, or anything it answered, is used.
class QueryInstanceLock {
 public:
  QueryInstanceLock();
  QueryInstanceLock(const QueryInstanceLock&) = delete;
  QueryInstanceLock& operator=(const QueryInstanceLock&) = delete;

 private:
  std::lock_guard<std::mutex> guard;
};

// Runs the plugin's initialise hook, then makes the query instance if there is
// none. Answers FF_SUCCESS, FF_FAIL, or the hook's own non-zero answer.
FFResult SetUpQueryInstance(const QueryInstanceLock&);

// The query instance, made on demand; null when it cannot be made.
CFFGLPlugin* QueryInstance(const QueryInstanceLock&);

// Deletes the query instance, if any; a later question makes a fresh one.
// A query instance still alive when the library is unloaded is deleted then.
void DestroyQueryInstance(const QueryInstanceLock&) noexcept;
