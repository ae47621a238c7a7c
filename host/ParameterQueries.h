// The parameter questions that take more than one look-up: pending events and
// texts copied into host buffers. The entry point decodes the host's records
// and calls these.
#pragma once

#include <cstdint>
#include <string>

#include "FFGL.h"
#include "FFGLPluginManager.h"

// Reports, and clears, the event flags of as many parameters as the batch has
// room for; with no array, only counts the pending ones. Always FF_SUCCESS.
FFResult CollectParameterEvents(CFFGLPluginManager& registry, EventBatchRecord& batch) noexcept;

// Copies at most bufferSize bytes of the text, without a terminator; bytes
// past the copied ones are left as they were. FF_FAIL for a zero-size or
// missing buffer.
FFResult CopyTextOut(const std::string& text, const TextRequestRecord& request) noexcept;

// The text a TextRequestRecord asks for from this registry: the named field of
// the parameter, or empty for an unknown index.
const std::string& ParameterGroup(const CFFGLPluginManager& registry, uint32_t index) noexcept;
const std::string& ParameterDisplayName(const CFFGLPluginManager& registry, uint32_t index) noexcept;
