// libFuzzer target for the plugin's entry point.
//
// Each input is read as a program of plugMain calls: any function code (known
// ones more often), any 32-bit input, and for every code that takes a record a
// pointer to a valid buffer of that record's size filled with fuzz bytes
// (pointers inside records point at valid buffers too, or are null), because
// a host's wild pointer is beyond what any plugin can check. Calls go with no
// instance or with one of up to three live ones, never a destroyed one; codes
// 2 and 34 may come at any moment. After every call the GL state contract is
// checked: program and vertex array 0, no GL error.
#include <GL/glew.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FFGL.h"
#include "hostkit/FrameTarget.h"
#include "hostkit/GlContext.h"

extern "C" PlugMainValue plugMain(uint32_t functionCode, PlugMainValue input, InstanceHandle instance);

namespace {

constexpr size_t kMaximumCalls = 48;
constexpr size_t kMaximumInstances = 3;
constexpr uint32_t kKnownCodes[] = {0,  2,  4,  5,  6,  7,  8,  9,  10, 13, 15, 16, 17, 18, 19, 20, 21, 22, 23, 31,
                                    32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51};

class FuzzBytes {
 public:
  FuzzBytes(const uint8_t* data, size_t size) : data(data), size(size) {}
  bool Empty() const { return position >= size; }
  uint8_t Byte() { return position < size ? data[position++] : 0; }
  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  void Fill(void* target, size_t count) {
    auto* bytes = static_cast<uint8_t*>(target);
    for (size_t i = 0; i < count; ++i) bytes[i] = Byte();
  }

 private:
  const uint8_t* data;
  size_t size;
  size_t position = 0;
};

// Storage for one call's records; everything a record points at lives here
// too, so no pointer outlives the call.
struct CallBuffers {
  alignas(16) uint8_t record[64];
  char name[32];
  char version[32];
  ParameterEventEntry events[32];
  char text[256];
  uint8_t pixels[64];
};

// A zero-terminated text of fuzz bytes, or null.
const char* FuzzText(FuzzBytes& in, char* buffer, size_t capacity) {
  const uint8_t length = in.Byte();
  if (length == 0xFF) return nullptr;
  const size_t count = length % capacity;
  in.Fill(buffer, count);
  buffer[count] = '\0';
  return buffer;
}

// The input for `code`: a record built in `buffers`, or a plain value.
PlugMainValue MakeInput(uint32_t code, FuzzBytes& in, CallBuffers& buffers) {
  PlugMainValue input;
  input.bits = 0;
  const bool nullRecord = (in.Byte() & 0x1F) == 0;
  void* record = buffers.record;
  in.Fill(buffers.record, sizeof buffers.record);
  switch (static_cast<FunctionCode>(code)) {
    case FunctionCode::SetParameter: {
      auto* value = static_cast<ParameterValueRecord*>(record);
      value->index %= 24;
      value->value.bits &= 0xFFFFFFFFu;  // a float: this plugin has no text parameters
      break;
    }
    case FunctionCode::InstantiateGL:
    case FunctionCode::Resize:
    case FunctionCode::ProcessFrame:
    case FunctionCode::SetTime:
    case FunctionCode::GetElementName:
    case FunctionCode::GetElementValue:
    case FunctionCode::SetElementValue:
    case FunctionCode::SetBeatInfo:
    case FunctionCode::GetParameterRange:
    case FunctionCode::GetExtension:
    case FunctionCode::GetSeparator:
      break;
    case FunctionCode::SetHostInfo: {
      auto* host = static_cast<HostInfoRecord*>(record);
      host->name = FuzzText(in, buffers.name, sizeof buffers.name);
      host->version = FuzzText(in, buffers.version, sizeof buffers.version);
      break;
    }
    case FunctionCode::GetThumbnail: {
      auto* thumbnail = static_cast<ThumbnailRecord*>(record);
      thumbnail->pixels = (in.Byte() & 1) ? buffers.pixels : nullptr;
      break;
    }
    case FunctionCode::GetParameterEvents: {
      auto* batch = static_cast<EventBatchRecord*>(record);
      batch->entryCount %= 33;
      batch->entries = (in.Byte() & 1) ? buffers.events : nullptr;
      break;
    }
    case FunctionCode::GetParameterGroup:
    case FunctionCode::GetParameterDisplayName: {
      auto* request = static_cast<TextRequestRecord*>(record);
      request->bufferSize %= sizeof buffers.text + 1;
      request->buffer = (in.Byte() & 0x7) ? buffers.text : nullptr;
      break;
    }
    default:
      input.bits = in.Word();
      return input;
  }
  input.pointerValue = nullRecord ? nullptr : record;
  return input;
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// The context and frame buffer, made once for the whole run.
bool SetUpGl() {
  static std::unique_ptr<hostkit::GlContext> context;
  static hostkit::FrameTarget target;
  std::string error;
  context = hostkit::GlContext::Create(hostkit::GlBackend::Egl, error);
  if (!context || !target.Create(8, 8, hostkit::PixelFormat::Rgba8, error)) {
    std::fprintf(stderr, "fuzzer: %s\n", error.c_str());
    std::abort();
  }
  target.Bind();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool glReady = SetUpGl();
  (void)glReady;
  FuzzBytes in(data, size);
  std::vector<InstanceHandle> live;
  CallBuffers buffers;

  for (size_t call = 0; call < kMaximumCalls && !in.Empty(); ++call) {
    const uint8_t choice = in.Byte();
    uint32_t code = (choice & 0x80) ? in.Word() : kKnownCodes[choice % (sizeof kKnownCodes / sizeof kKnownCodes[0])];
    if (code == static_cast<uint32_t>(FunctionCode::InstantiateGL) && live.size() >= kMaximumInstances) continue;
    const uint8_t which = in.Byte();
    InstanceHandle instance = (which % 4 == 0 || live.empty()) ? nullptr : live[which % live.size()];
    const PlugMainValue input = MakeInput(code, in, buffers);
    glViewport(0, 0, 1 + (which >> 5), 1 + (which & 7));

    const PlugMainValue answer = plugMain(code, input, instance);

    if (code == static_cast<uint32_t>(FunctionCode::InstantiateGL) && answer.bits != FF_FAIL && answer.pointerValue)
      live.push_back(answer.pointerValue);
    if (code == static_cast<uint32_t>(FunctionCode::DeinstantiateGL) && instance) {
      Check(answer.uintValue == FF_SUCCESS);
      live.erase(std::find(live.begin(), live.end(), instance));
    }
    GLint program = -1, vertexArray = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vertexArray);
    Check(program == 0 && vertexArray == 0);
    Check(glGetError() == GL_NO_ERROR);
  }

  for (InstanceHandle instance : live) {
    PlugMainValue none;
    none.bits = 0;
    plugMain(static_cast<uint32_t>(FunctionCode::DeinstantiateGL), none, instance);
  }
  PlugMainValue none;
  none.bits = 0;
  plugMain(static_cast<uint32_t>(FunctionCode::Deinitialise), none, nullptr);
  return 0;
}
