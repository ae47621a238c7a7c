#include "ParameterQueries.h"

#include <cstring>

FFResult CollectParameterEvents(CFFGLPluginManager& registry, EventBatchRecord& batch) noexcept {
  if (!batch.entries) {
    uint32_t pending = 0;
    for (const ParameterRecord& record : registry.parameters)
      if (record.eventFlags != 0) ++pending;
    batch.entryCount = pending;
    return FF_SUCCESS;
  }

  const uint32_t capacity = batch.entryCount;
  uint32_t written = 0;
  for (ParameterRecord& record : registry.parameters) {
    if (written >= capacity) break;
    if (record.eventFlags == 0) continue;
    batch.entries[written].index = record.index;
    batch.entries[written].eventFlags = record.eventFlags;
    record.eventFlags = 0;
    ++written;
  }
  batch.entryCount = written;
  return FF_SUCCESS;
}

FFResult CopyTextOut(const std::string& text, const TextRequestRecord& request) noexcept {
  if (!request.buffer || request.bufferSize == 0) return FF_FAIL;
  size_t count = text.size() < request.bufferSize ? text.size() : request.bufferSize;
  std::memcpy(request.buffer, text.data(), count);
  return FF_SUCCESS;
}

namespace {
const std::string kNoText;
}

const std::string& ParameterGroup(const CFFGLPluginManager& registry, uint32_t index) noexcept {
  const ParameterRecord* record = registry.FindParameter(index);
  return record ? record->group : kNoText;
}

const std::string& ParameterDisplayName(const CFFGLPluginManager& registry, uint32_t index) noexcept {
  const ParameterRecord* record = registry.FindParameter(index);
  return record ? record->displayName : kNoText;
}
