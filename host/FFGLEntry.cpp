// The library's two exports. plugMain decodes the host's function code and
// records, calls the registration, the query instance or an instance's
// virtual operations, and encodes the answer. Nothing past this file knows the
// raw codes or the 64-bit value.
//
// The host is meant to call from one thread, its render thread, with its GL
// context current for codes 17, 18, 19 and 23. Handles must come from code 18
// and not yet be destroyed by code 19: an instance handle cannot be checked.
// Hosts that break the one-thread rule still get sound answers: questions
// about the plugin as a whole (a scanner on a thread of its own) are
// serialised around the query instance, the one-time GL set-up is safe to
// race, and instance codes touch nothing but their instance. The frame path
// takes no lock.
// No exception leaves plugMain: each code answers its own failure value.

#include <cstring>
#include <exception>
#include <memory>

#include "FFGL.h"
#include "FFGLPlugin.h"
#include "GLEntryPoints.h"
#include "ParameterQueries.h"
#include "PluginRegistration.h"
#include "QueryInstance.h"

namespace {

// ---- Encoding answers -------------------------------------------------------

PlugMainValue Answer(uint32_t value) { return PlugMainValueOf(value); }
PlugMainValue AnswerPointer(const void* pointer) { return PlugMainValueOf(pointer); }
PlugMainValue AnswerFloat(float value) { return PlugMainValueOf(value); }

PlugMainValue AnswerBool(bool value) { return Answer(value ? 1 : 0); }

const PlugMainValue kFail = Answer(FF_FAIL);
const PlugMainValue kNull = AnswerPointer(nullptr);

// Codes whose answer is a pointer fail with null; all others with FF_FAIL.
PlugMainValue FailureAnswerFor(FunctionCode code) {
  switch (code) {
    case FunctionCode::GetInfo:
    case FunctionCode::GetExtendedInfo:
    case FunctionCode::GetParameterName:
    case FunctionCode::GetPluginData:
    case FunctionCode::GetElementName:
    case FunctionCode::GetExtension:
      return kNull;
    default:
      return kFail;
  }
}

// ---- Decoding inputs --------------------------------------------------------

template <class Record>
Record* RecordFrom(PlugMainValue input) {
  return static_cast<Record*>(input.pointerValue);
}

uint32_t IndexFrom(PlugMainValue input) { return input.uintValue; }

// The parameter's type according to the instance's own records (the same as
// the query instance's); unknown indices take the numeric path.
uint32_t ParameterTypeFor(const CFFGLPlugin& instance, uint32_t index) {
  const ParameterRecord* record = instance.FindParameter(index);
  return record ? record->type : FF_TYPE_NONE;
}

// ---- Plugin-level codes -----------------------------------------------------

PlugMainValue Deinitialise(const QueryInstanceLock& lock) {
  const PluginRegistration* registration = CurrentRegistration();
  if (!registration) return kFail;
  DestroyQueryInstance(lock);
  if (registration->deinitialiseHook) registration->deinitialiseHook();
  return Answer(FF_SUCCESS);
}

PlugMainValue GetCapability(uint32_t capability, const QueryInstanceLock& lock) {
  CFFGLPlugin* query = QueryInstance(lock);
  if (!query) return kFail;
  switch (capability) {
    case FF_CAP_5:
      return AnswerBool(query->capability5);
    case FF_CAP_MINIMUM_INPUTS:
      return Answer(query->minimumInputs < 0 ? 0 : static_cast<uint32_t>(query->minimumInputs));
    case FF_CAP_MAXIMUM_INPUTS:
      return Answer(query->maximumInputs < 0 ? 0 : static_cast<uint32_t>(query->maximumInputs));
    case FF_CAP_16:
      return AnswerBool(query->capability16);
    default:
      return Answer(0);
  }
}

PlugMainValue GetThumbnail(ThumbnailRecord* request) {
  if (!request) return kFail;
  const PluginThumbnail* thumbnail = CurrentThumbnail();
  if (!thumbnail) {
    request->width = 0;
    request->height = 0;
    return kFail;
  }
  request->width = thumbnail->width;
  request->height = thumbnail->height;
  if (request->pixels)
    std::memcpy(request->pixels, thumbnail->pixels, size_t{thumbnail->width} * thumbnail->height * 4);
  return Answer(FF_SUCCESS);
}

// Deletes an instance that has not reached the host, running DeinitialiseGL
// first when its GL set-up was attempted.
struct InstanceUnderConstruction {
  std::unique_ptr<CFFGLPlugin> instance;
  bool glAttempted = false;
  ~InstanceUnderConstruction() {
    if (instance && glAttempted) instance->DeinitialiseGL();
  }
};

PlugMainValue InstantiateGL(const ViewportRecord* viewport) {
  const PluginRegistration* registration = CurrentRegistration();
  if (!registration || !viewport) return kFail;
  {
    QueryInstanceLock lock;
    if (!QueryInstance(lock)) return kFail;
  }

  InstanceUnderConstruction made;
  {
    CFFGLPlugin* raw = nullptr;
    FFResult result = registration->factory(&raw);
    made.instance.reset(raw);
    if (result == FF_FAIL || !raw) return kFail;
  }
  CFFGLPlugin& instance = *made.instance;
  instance.owner = &instance;

  // The new instance registered the same parameters as the query instance,
  // and its own records cannot be deleted under it by another thread.
  for (uint32_t index = 0; index < instance.ParameterCount(); ++index) {
    const ParameterRecord* record = instance.FindParameter(index);
    if (!record) return kFail;
    FFResult result = IsTextParameterType(record->type)
                          ? instance.SetTextParameter(index, record->defaultText.c_str())
                          : instance.SetFloatParameter(index, record->defaultValue);
    if (result == FF_FAIL) return kFail;
  }

  if (!LoadGLEntryPointsOnce()) return kFail;

  made.glAttempted = true;
  if (instance.InitialiseGL(viewport) != FF_SUCCESS) return kFail;

  made.glAttempted = false;
  return AnswerPointer(made.instance.release());
}

// ---- Instance codes ---------------------------------------------------------

PlugMainValue ProcessFrame(CFFGLPlugin& instance, const ProcessRecord* record) {
  if (!record) return kFail;
  if (!instance.connected) {
    instance.Connect();
    instance.connected = true;
  }
  return Answer(instance.ProcessFrame(record));
}

PlugMainValue DeinstantiateGL(CFFGLPlugin* instance) {
  if (instance->connected) {
    instance->Disconnect();
    instance->connected = false;
  }
  instance->DeinitialiseGL();
  delete instance;
  return Answer(FF_SUCCESS);
}

PlugMainValue Connect(CFFGLPlugin& instance) {
  FFResult result = instance.Connect();
  if (result != FF_SUCCESS) return Answer(result);
  instance.connected = true;
  return Answer(FF_SUCCESS);
}

PlugMainValue Disconnect(CFFGLPlugin& instance) {
  FFResult result = instance.Disconnect();
  if (result != FF_SUCCESS) return Answer(result);
  instance.connected = false;
  return Answer(FF_SUCCESS);
}

PlugMainValue EnableCapability(CFFGLPlugin& instance, uint32_t capability) {
  if (capability != FF_CAP_16) return kFail;
  QueryInstanceLock lock;
  CFFGLPlugin* query = QueryInstance(lock);
  if (!query || !query->capability16) return kFail;
  instance.capability16Enabled = 1;
  return Answer(FF_SUCCESS);
}

PlugMainValue SetParameter(CFFGLPlugin& instance, const ParameterValueRecord* record) {
  if (!record) return kFail;
  if (IsTextParameterType(ParameterTypeFor(instance, record->index)))
    return Answer(instance.SetTextParameter(record->index, record->value.textValue));
  return Answer(instance.SetFloatParameter(record->index, record->value.floatValue));
}

PlugMainValue GetParameter(CFFGLPlugin& instance, uint32_t index) {
  if (IsTextParameterType(ParameterTypeFor(instance, index))) {
    PlugMainValue answer;
    answer.bits = instance.GetTextParameter(index);
    return answer;
  }
  return AnswerFloat(instance.GetFloatParameter(index));
}

// ---- Parameter descriptions -------------------------------------------------

PlugMainValue GetParameterDefault(uint32_t index, CFFGLPlugin* query) {
  const ParameterRecord* record = query ? query->FindParameter(index) : nullptr;
  if (!record) return kFail;
  if (IsTextParameterType(record->type)) return AnswerPointer(record->defaultText.c_str());
  return AnswerFloat(record->defaultValue);
}

const ParameterElement* FindElement(CFFGLPluginManager* registry, const ElementAddressRecord& address) {
  const ParameterRecord* record = registry ? registry->FindParameter(address.parameterIndex) : nullptr;
  if (!record || address.position >= record->elements.size()) return nullptr;
  return &record->elements[address.position];
}

PlugMainValue GetElementName(CFFGLPluginManager* registry, const ElementAddressRecord* address) {
  if (!address) return kNull;
  const ParameterElement* element = FindElement(registry, *address);
  return element ? AnswerPointer(element->name.c_str()) : kNull;
}

PlugMainValue GetElementValue(CFFGLPluginManager* registry, const ElementAddressRecord* address) {
  if (!address) return kFail;
  const ParameterElement* element = FindElement(registry, *address);
  return element ? AnswerFloat(element->value) : kFail;
}

PlugMainValue SetElementValue(CFFGLPlugin& instance, const ElementValueRecord* request) {
  if (!request) return kFail;
  ParameterRecord* record = instance.FindParameter(request->parameterIndex);
  if (!record || request->position >= record->elements.size()) return kFail;
  record->elements[request->position].value = request->value;
  return Answer(FF_SUCCESS);
}

PlugMainValue GetParameterRange(RangeRecord* range, CFFGLPlugin* query) {
  if (!range) return kFail;
  if (!query) return kFail;
  const ParameterRecord* record = query->FindParameter(range->index);
  range->minimum = record ? record->minimum : 0.0f;
  range->maximum = record ? record->maximum : 1.0f;
  return Answer(FF_SUCCESS);
}

PlugMainValue GetExtension(const ElementAddressRecord* address, CFFGLPlugin* query) {
  if (!address) return kNull;
  const ParameterRecord* record = query ? query->FindParameter(address->parameterIndex) : nullptr;
  if (!record || address->position >= record->fileExtensions.size()) return kNull;
  return AnswerPointer(record->fileExtensions[address->position].c_str());
}

PlugMainValue GetSeparator(const ElementAddressRecord* address, CFFGLPlugin* query) {
  if (!address) return kFail;
  const ParameterRecord* record = query ? query->FindParameter(address->parameterIndex) : nullptr;
  if (!record || address->position >= record->separators.size()) return kFail;
  return Answer(record->separators[address->position]);
}

// Answers one field of a parameter of the given registry: a missing registry
// or an unknown index fails.
template <class Field>
PlugMainValue AnswerField(CFFGLPluginManager* registry, uint32_t index, Field field) {
  const ParameterRecord* record = registry ? registry->FindParameter(index) : nullptr;
  return record ? field(*record) : kFail;
}

// ---- Dispatch ---------------------------------------------------------------

bool IsElementQuestion(FunctionCode code) {
  switch (code) {
    case FunctionCode::GetElementCount:
    case FunctionCode::GetElementName:
    case FunctionCode::GetElementValue:
    case FunctionCode::GetParameterVisibility:
      return true;
    default:
      return false;
  }
}

// Codes answered by the query instance: the plugin-level ones, and the
// element questions asked without an instance.
bool IsPluginQuestion(FunctionCode code, const CFFGLPlugin* instance) {
  switch (code) {
    case FunctionCode::Initialise:
    case FunctionCode::Deinitialise:
    case FunctionCode::GetCapability:
    case FunctionCode::GetPluginData:
    case FunctionCode::GetParameterCount:
    case FunctionCode::GetParameterName:
    case FunctionCode::GetParameterDefault:
    case FunctionCode::GetParameterType:
    case FunctionCode::GetParameterUsage:
    case FunctionCode::GetParameterRange:
    case FunctionCode::GetExtensionCount:
    case FunctionCode::GetExtension:
    case FunctionCode::GetSeparatorCount:
    case FunctionCode::GetSeparator:
    case FunctionCode::GetParameterGroup:
      return true;
    default:
      return !instance && IsElementQuestion(code);
  }
}

// Element questions: from the given registry, the instance's own or the query
// instance's.
PlugMainValue AnswerElementQuestion(FunctionCode code, PlugMainValue input, CFFGLPluginManager* registry) {
  switch (code) {
    case FunctionCode::GetElementCount:
      return AnswerField(registry, IndexFrom(input),
                         [](const ParameterRecord& r) { return Answer(static_cast<uint32_t>(r.elements.size())); });
    case FunctionCode::GetElementName:
      return GetElementName(registry, RecordFrom<const ElementAddressRecord>(input));
    case FunctionCode::GetElementValue:
      return GetElementValue(registry, RecordFrom<const ElementAddressRecord>(input));
    case FunctionCode::GetParameterVisibility:
      return AnswerField(registry, IndexFrom(input), [](const ParameterRecord& r) { return AnswerBool(r.visible); });
    default:
      return kFail;
  }
}

// Called with the query instance locked.
PlugMainValue AnswerPluginQuestion(FunctionCode code, PlugMainValue input, const QueryInstanceLock& lock) {
  switch (code) {
    case FunctionCode::Initialise:
      return Answer(SetUpQueryInstance(lock));
    case FunctionCode::Deinitialise:
      return Deinitialise(lock);
    case FunctionCode::GetCapability:
      return GetCapability(IndexFrom(input), lock);
    default:
      break;
  }

  CFFGLPlugin* query = QueryInstance(lock);
  switch (code) {
    case FunctionCode::GetPluginData:
      return query ? AnswerPointer(query->GetPluginData()) : kNull;
    case FunctionCode::GetParameterCount:
      return query ? Answer(query->ParameterCount()) : kFail;
    case FunctionCode::GetParameterName: {
      const ParameterRecord* record = query ? query->FindParameter(IndexFrom(input)) : nullptr;
      return record ? AnswerPointer(record->name.c_str()) : kNull;
    }
    case FunctionCode::GetParameterDefault:
      return GetParameterDefault(IndexFrom(input), query);
    case FunctionCode::GetParameterType:
      return AnswerField(query, IndexFrom(input), [](const ParameterRecord& r) { return Answer(r.type); });
    case FunctionCode::GetParameterUsage:
      return AnswerField(query, IndexFrom(input), [](const ParameterRecord& r) { return Answer(r.usage); });
    case FunctionCode::GetParameterRange:
      return GetParameterRange(RecordFrom<RangeRecord>(input), query);
    case FunctionCode::GetExtensionCount: {
      if (!query) return kFail;
      const ParameterRecord* record = query->FindParameter(IndexFrom(input));
      return Answer(record ? static_cast<uint32_t>(record->fileExtensions.size()) : 0);
    }
    case FunctionCode::GetExtension:
      return GetExtension(RecordFrom<const ElementAddressRecord>(input), query);
    case FunctionCode::GetSeparatorCount: {
      const ParameterRecord* record = query ? query->FindParameter(IndexFrom(input)) : nullptr;
      return Answer(record ? static_cast<uint32_t>(record->separators.size()) : 0);
    }
    case FunctionCode::GetSeparator:
      return GetSeparator(RecordFrom<const ElementAddressRecord>(input), query);
    case FunctionCode::GetParameterGroup: {
      const TextRequestRecord* request = RecordFrom<const TextRequestRecord>(input);
      if (!request || request->bufferSize == 0) return kFail;
      if (!query) return kFail;
      return Answer(CopyTextOut(ParameterGroup(*query, request->index), *request));
    }
    default:
      return AnswerElementQuestion(code, input, query);
  }
}

PlugMainValue Dispatch(FunctionCode code, PlugMainValue input, CFFGLPlugin* instance) {
  // Codes answered from the registration alone, and instance creation.
  switch (code) {
    case FunctionCode::GetInfo: {
      const PluginRegistration* registration = CurrentRegistration();
      return registration ? AnswerPointer(&registration->info) : kNull;
    }
    case FunctionCode::GetExtendedInfo: {
      const PluginRegistration* registration = CurrentRegistration();
      return registration ? AnswerPointer(&registration->extendedInfo) : kNull;
    }
    case FunctionCode::GetThumbnail:
      return GetThumbnail(RecordFrom<ThumbnailRecord>(input));
    case FunctionCode::InstantiateGL:
      return InstantiateGL(RecordFrom<const ViewportRecord>(input));
    default:
      break;
  }

  if (IsPluginQuestion(code, instance)) {
    QueryInstanceLock lock;
    return AnswerPluginQuestion(code, input, lock);
  }

  // Everything below acts on the instance the host names; without one, and
  // for every code not handled at all, the answer is failure.
  if (!instance) return kFail;

  switch (code) {
    case FunctionCode::GetParameterDisplay:
      return AnswerPointer(instance->GetParameterDisplay(IndexFrom(input)));
    case FunctionCode::SetParameter:
      return SetParameter(*instance, RecordFrom<const ParameterValueRecord>(input));
    case FunctionCode::GetParameter:
      return GetParameter(*instance, IndexFrom(input));
    case FunctionCode::GetInputStatus:
      return Answer(instance->GetInputStatus(IndexFrom(input)));
    case FunctionCode::ProcessFrame:
      return ProcessFrame(*instance, RecordFrom<const ProcessRecord>(input));
    case FunctionCode::DeinstantiateGL:
      return DeinstantiateGL(instance);
    case FunctionCode::SetTime: {
      const double* seconds = RecordFrom<const double>(input);
      return seconds ? Answer(instance->SetTime(*seconds)) : kFail;
    }
    case FunctionCode::Connect:
      return Connect(*instance);
    case FunctionCode::Disconnect:
      return Disconnect(*instance);
    case FunctionCode::Resize: {
      const ViewportRecord* viewport = RecordFrom<const ViewportRecord>(input);
      return viewport ? Answer(instance->Resize(viewport)) : kFail;
    }
    case FunctionCode::SetElementValue:
      return SetElementValue(*instance, RecordFrom<const ElementValueRecord>(input));
    case FunctionCode::SetBeatInfo: {
      const BeatRecord* beat = RecordFrom<const BeatRecord>(input);
      if (!beat) return kFail;
      instance->SetBeatInfo(beat->bpm, beat->barPhase);
      return Answer(FF_SUCCESS);
    }
    case FunctionCode::SetHostInfo: {
      const HostInfoRecord* host = RecordFrom<const HostInfoRecord>(input);
      if (!host) return kFail;
      instance->SetHostInfo(host->name, host->version);
      return Answer(FF_SUCCESS);
    }
    case FunctionCode::SetSampleRate:
      instance->SetSampleRate(IndexFrom(input));
      return Answer(FF_SUCCESS);
    case FunctionCode::GetParameterEvents: {
      EventBatchRecord* batch = RecordFrom<EventBatchRecord>(input);
      return batch ? Answer(CollectParameterEvents(*instance, *batch)) : kFail;
    }
    case FunctionCode::EnableCapability:
      return EnableCapability(*instance, IndexFrom(input));
    case FunctionCode::GetElementCount:
    case FunctionCode::GetElementName:
    case FunctionCode::GetElementValue:
    case FunctionCode::GetParameterVisibility:
      return AnswerElementQuestion(code, input, instance);
    case FunctionCode::GetParameterDisplayName: {
      const TextRequestRecord* request = RecordFrom<const TextRequestRecord>(input);
      if (!request) return kFail;
      return Answer(CopyTextOut(ParameterDisplayName(*instance, request->index), *request));
    }
    default:
      return kFail;
  }
}

}  // namespace

extern "C" {

FFGL_EXPORT PlugMainValue plugMain(uint32_t functionCode, PlugMainValue input, InstanceHandle instance) {
  const FunctionCode code = static_cast<FunctionCode>(functionCode);
  try {
    return Dispatch(code, input, static_cast<CFFGLPlugin*>(instance));
  } catch (...) {
    return FailureAnswerFor(code);
  }
}

// The host's log function is accepted and not used: this plugin reports
// nothing to the host.
FFGL_EXPORT void SetLogCallback(LogCallbackFunction) {}

}  // extern "C"
