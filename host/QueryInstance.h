// The query instance: one private plugin instance, made through the factory
// on demand, that answers the host's questions about the plugin as a whole
// (parameter names, defaults, types, capabilities). It never gets GL, defaults
// or an owner link; only its registry and GetPluginData are used.
#pragma once

#include "FFGLPlugin.h"

// Runs the plugin's initialise hook, then makes the query instance if there is
// none. Answers FF_SUCCESS, FF_FAIL, or the hook's own non-zero answer.
FFResult SetUpQueryInstance();

// The query instance, made on demand; null when it cannot be made.
CFFGLPlugin* QueryInstance();

// Deletes the query instance, if any; a later question makes a fresh one.
void DestroyQueryInstance() noexcept;
