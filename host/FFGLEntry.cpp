// The library's two exports. plugMain finds the host's function code in one
// routing table (kRoutes: who answers it, and how it fails), decodes the
// records, calls the registration, the query instance or an instance's
// virtual operations, and encodes the answer. Nothing past this file knows
// the raw codes or the 64-bit value.
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

// ---- The routing table ------------------------------------------------------

// Who answers a code:
//   Plugin    the registration alone, or instance creation; no lock;
//   Query     the query instance, with its lock held;
//   Elements  the instance's own records, or the query instance's (locked)
//             when the host names no instance;
//   Instance  the instance the host names; none, and the answer is failure.
enum class Scope { Plugin, Query, Elements, Instance };

// One call as a handler sees it: the host's input, the instance it names
// (when the scope is Instance or Elements), the registry the question is
// asked of, and the query instance's lock (Query scope only).
struct Call {
  PlugMainValue input;
  CFFGLPlugin* instance;
  CFFGLPluginManager* registry;
  const QueryInstanceLock* lock;
};

struct Route {
  FunctionCode code;
  Scope scope;
  bool answersPointer;  // fails with null, not FF_FAIL
  PlugMainValue (*answer)(const Call&);
};

CFFGLPlugin* Query(const Call& call) { return QueryInstance(*call.lock); }

// Every code this plugin answers, once. Anything else fails.
constexpr Route kRoutes[] = {
    {FunctionCode::GetInfo, Scope::Plugin, true,
     [](const Call&) {
       const PluginRegistration* registration = CurrentRegistration();
       return registration ? AnswerPointer(&registration->info) : kNull;
     }},
    {FunctionCode::GetExtendedInfo, Scope::Plugin, true,
     [](const Call&) {
       const PluginRegistration* registration = CurrentRegistration();
       return registration ? AnswerPointer(&registration->extendedInfo) : kNull;
     }},
    {FunctionCode::GetThumbnail, Scope::Plugin, false,
     [](const Call& call) { return GetThumbnail(RecordFrom<ThumbnailRecord>(call.input)); }},
    {FunctionCode::InstantiateGL, Scope::Plugin, false,
     [](const Call& call) { return InstantiateGL(RecordFrom<const ViewportRecord>(call.input)); }},

    {FunctionCode::Initialise, Scope::Query, false,
     [](const Call& call) { return Answer(SetUpQueryInstance(*call.lock)); }},
    {FunctionCode::Deinitialise, Scope::Query, false, [](const Call& call) { return Deinitialise(*call.lock); }},
    {FunctionCode::GetCapability, Scope::Query, false,
     [](const Call& call) { return GetCapability(IndexFrom(call.input), *call.lock); }},
    {FunctionCode::GetPluginData, Scope::Query, true,
     [](const Call& call) { return Query(call) ? AnswerPointer(Query(call)->GetPluginData()) : kNull; }},
    {FunctionCode::GetParameterCount, Scope::Query, false,
     [](const Call& call) { return Query(call) ? Answer(Query(call)->ParameterCount()) : kFail; }},
    {FunctionCode::GetParameterName, Scope::Query, true,
     [](const Call& call) {
       const ParameterRecord* record = Query(call) ? Query(call)->FindParameter(IndexFrom(call.input)) : nullptr;
       return record ? AnswerPointer(record->name.c_str()) : kNull;
     }},
    {FunctionCode::GetParameterDefault, Scope::Query, false,
     [](const Call& call) { return GetParameterDefault(IndexFrom(call.input), Query(call)); }},
    {FunctionCode::GetParameterType, Scope::Query, false,
     [](const Call& call) {
       return AnswerField(Query(call), IndexFrom(call.input), [](const ParameterRecord& r) { return Answer(r.type); });
     }},
    {FunctionCode::GetParameterUsage, Scope::Query, false,
     [](const Call& call) {
       return AnswerField(Query(call), IndexFrom(call.input), [](const ParameterRecord& r) { return Answer(r.usage); });
     }},
    {FunctionCode::GetParameterRange, Scope::Query, false,
     [](const Call& call) { return GetParameterRange(RecordFrom<RangeRecord>(call.input), Query(call)); }},
    {FunctionCode::GetExtensionCount, Scope::Query, false,
     [](const Call& call) {
       if (!Query(call)) return kFail;
       const ParameterRecord* record = Query(call)->FindParameter(IndexFrom(call.input));
       return Answer(record ? static_cast<uint32_t>(record->fileExtensions.size()) : 0);
     }},
    {FunctionCode::GetExtension, Scope::Query, true,
     [](const Call& call) { return GetExtension(RecordFrom<const ElementAddressRecord>(call.input), Query(call)); }},
    {FunctionCode::GetSeparatorCount, Scope::Query, false,
     [](const Call& call) {
       const ParameterRecord* record = Query(call) ? Query(call)->FindParameter(IndexFrom(call.input)) : nullptr;
       return Answer(record ? static_cast<uint32_t>(record->separators.size()) : 0);
     }},
    {FunctionCode::GetSeparator, Scope::Query, false,
     [](const Call& call) { return GetSeparator(RecordFrom<const ElementAddressRecord>(call.input), Query(call)); }},
    {FunctionCode::GetParameterGroup, Scope::Query, false,
     [](const Call& call) {
       const TextRequestRecord* request = RecordFrom<const TextRequestRecord>(call.input);
       if (!request || request->bufferSize == 0 || !Query(call)) return kFail;
       return Answer(CopyTextOut(ParameterGroup(*Query(call), request->index), *request));
     }},

    {FunctionCode::GetElementCount, Scope::Elements, false,
     [](const Call& call) {
       return AnswerField(call.registry, IndexFrom(call.input),
                          [](const ParameterRecord& r) { return Answer(static_cast<uint32_t>(r.elements.size())); });
     }},
    {FunctionCode::GetElementName, Scope::Elements, true,
     [](const Call& call) { return GetElementName(call.registry, RecordFrom<const ElementAddressRecord>(call.input)); }},
    {FunctionCode::GetElementValue, Scope::Elements, false,
     [](const Call& call) { return GetElementValue(call.registry, RecordFrom<const ElementAddressRecord>(call.input)); }},
    {FunctionCode::GetParameterVisibility, Scope::Elements, false,
     [](const Call& call) {
       return AnswerField(call.registry, IndexFrom(call.input), [](const ParameterRecord& r) { return AnswerBool(r.visible); });
     }},

    {FunctionCode::GetParameterDisplay, Scope::Instance, false,
     [](const Call& call) { return AnswerPointer(call.instance->GetParameterDisplay(IndexFrom(call.input))); }},
    {FunctionCode::SetParameter, Scope::Instance, false,
     [](const Call& call) { return SetParameter(*call.instance, RecordFrom<const ParameterValueRecord>(call.input)); }},
    {FunctionCode::GetParameter, Scope::Instance, false,
     [](const Call& call) { return GetParameter(*call.instance, IndexFrom(call.input)); }},
    {FunctionCode::GetInputStatus, Scope::Instance, false,
     [](const Call& call) { return Answer(call.instance->GetInputStatus(IndexFrom(call.input))); }},
    {FunctionCode::ProcessFrame, Scope::Instance, false,
     [](const Call& call) { return ProcessFrame(*call.instance, RecordFrom<const ProcessRecord>(call.input)); }},
    {FunctionCode::DeinstantiateGL, Scope::Instance, false, [](const Call& call) { return DeinstantiateGL(call.instance); }},
    {FunctionCode::SetTime, Scope::Instance, false,
     [](const Call& call) {
       const double* seconds = RecordFrom<const double>(call.input);
       return seconds ? Answer(call.instance->SetTime(*seconds)) : kFail;
     }},
    {FunctionCode::Connect, Scope::Instance, false, [](const Call& call) { return Connect(*call.instance); }},
    {FunctionCode::Disconnect, Scope::Instance, false, [](const Call& call) { return Disconnect(*call.instance); }},
    {FunctionCode::Resize, Scope::Instance, false,
     [](const Call& call) {
       const ViewportRecord* viewport = RecordFrom<const ViewportRecord>(call.input);
       return viewport ? Answer(call.instance->Resize(viewport)) : kFail;
     }},
    {FunctionCode::SetElementValue, Scope::Instance, false,
     [](const Call& call) { return SetElementValue(*call.instance, RecordFrom<const ElementValueRecord>(call.input)); }},
    {FunctionCode::SetBeatInfo, Scope::Instance, false,
     [](const Call& call) {
       const BeatRecord* beat = RecordFrom<const BeatRecord>(call.input);
       if (!beat) return kFail;
       call.instance->SetBeatInfo(beat->bpm, beat->barPhase);
       return Answer(FF_SUCCESS);
     }},
    {FunctionCode::SetHostInfo, Scope::Instance, false,
     [](const Call& call) {
       const HostInfoRecord* host = RecordFrom<const HostInfoRecord>(call.input);
       if (!host) return kFail;
       call.instance->SetHostInfo(host->name, host->version);
       return Answer(FF_SUCCESS);
     }},
    {FunctionCode::SetSampleRate, Scope::Instance, false,
     [](const Call& call) {
       call.instance->SetSampleRate(IndexFrom(call.input));
       return Answer(FF_SUCCESS);
     }},
    {FunctionCode::GetParameterEvents, Scope::Instance, false,
     [](const Call& call) {
       EventBatchRecord* batch = RecordFrom<EventBatchRecord>(call.input);
       return batch ? Answer(CollectParameterEvents(*call.instance, *batch)) : kFail;
     }},
    {FunctionCode::EnableCapability, Scope::Instance, false,
     [](const Call& call) { return EnableCapability(*call.instance, IndexFrom(call.input)); }},
    {FunctionCode::GetParameterDisplayName, Scope::Instance, false,
     [](const Call& call) {
       const TextRequestRecord* request = RecordFrom<const TextRequestRecord>(call.input);
       if (!request) return kFail;
       return Answer(CopyTextOut(ParameterDisplayName(*call.instance, request->index), *request));
     }},
};

const Route* RouteOf(FunctionCode code) {
  for (const Route& route : kRoutes)
    if (route.code == code) return &route;
  return nullptr;
}

PlugMainValue Dispatch(const Route& route, PlugMainValue input, CFFGLPlugin* instance) {
  Call call{input, instance, instance, nullptr};
  switch (route.scope) {
    case Scope::Plugin:
      return route.answer(call);
    case Scope::Instance:
      return instance ? route.answer(call) : kFail;
    case Scope::Elements:
      if (instance) return route.answer(call);
      [[fallthrough]];
    case Scope::Query: {
      QueryInstanceLock lock;
      call.lock = &lock;
      call.registry = QueryInstance(lock);
      return route.answer(call);
    }
  }
  return kFail;
}

}  // namespace

extern "C" {

FFGL_EXPORT PlugMainValue plugMain(uint32_t functionCode, PlugMainValue input, InstanceHandle instance) {
  const Route* route = RouteOf(static_cast<FunctionCode>(functionCode));
  if (!route) return kFail;
  try {
    return Dispatch(*route, input, static_cast<CFFGLPlugin*>(instance));
  } catch (...) {
    return route->answersPointer ? kNull : kFail;
  }
}

// The host's log function is accepted and not used: this plugin reports
// nothing to the host.
FFGL_EXPORT void SetLogCallback(LogCallbackFunction) {}

}  // extern "C"
