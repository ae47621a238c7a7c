#include "formats/OscMessages.h"

#include <lo/lo.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tool {
namespace {

// A number argument as a float: f, d, i or h.
bool NumberArgument(char type, lo_arg* argument, double& value) {
  switch (type) {
    case LO_FLOAT:
      value = argument->f;
      return true;
    case LO_DOUBLE:
      value = argument->d;
      return true;
    case LO_INT32:
      value = argument->i;
      return true;
    case LO_INT64:
      value = static_cast<double>(argument->h);
      return true;
    default:
      return false;
  }
}

// The arguments as the address's row wants them: none, one number or one
// string. False with the reason.
bool ReadArguments(const OscAddress& row, const std::string& types, lo_arg** arguments, double& number,
                   std::string& text, std::string& why) {
  switch (row.arguments) {
    case OscArguments::None:
      if (types.empty()) return true;
      why = "takes no arguments";
      return false;
    case OscArguments::Text:
      if (types == "s") {
        text = &arguments[0]->s;
        return true;
      }
      why = "takes one string";
      return false;
    case OscArguments::SlotAndName:
      if (types.size() == 2 && types[1] == 's' && NumberArgument(types[0], arguments[0], number)) {
        text = &arguments[1]->s;
        return true;
      }
      [[fallthrough]];
    case OscArguments::Number:
    case OscArguments::WholeNumber:
      if (types.size() == 1 && NumberArgument(types[0], arguments[0], number)) return true;
      why = row.action == PlayerAction::SetBlackout ? "takes one number (1 to black out, 0 to come back)"
                                                    : "takes one number";
      return false;
  }
  return false;
}

// What a well-formed message asks for.
void Interpret(OscDecoded& decoded, const std::string& types, lo_arg** arguments, const ParameterNames& names) {
  PlayerRequest& request = decoded.command.request;
  std::string name;
  const OscAddress* row = FindOscAddress(decoded.address, name);
  if (!row) {
    decoded.why = "unknown address";
    return;
  }
  request = PlayerRequest(row->action, row->action == PlayerAction::AskStatus ? static_cast<int>(row->health) : 0);
  if (row->action == PlayerAction::SetParameter) {
    std::string unknown;
    uint32_t index = 0;
    if (!names.Resolve(name, index, unknown)) {
      decoded.why = "no such parameter";
      return;
    }
    request.number = static_cast<int>(index);
    if (types.empty()) {  // a question
      request.action = PlayerAction::QueryParameter;
      decoded.ok = true;
      return;
    }
  }
  double number = 0.0;
  if (!ReadArguments(*row, types, arguments, number, request.text, decoded.why)) return;
  switch (row->action) {
    case PlayerAction::SetParameter:
      if (!std::isfinite(number) || std::fabs(number) > 3.0e38) {
        decoded.why = "the value is not a finite 32-bit number";
        return;
      }
      request.value = static_cast<float>(number);
      break;
    case PlayerAction::RecallPreset:
    case PlayerAction::CuePreset:
    case PlayerAction::StorePreset:
      // A slot of the bank, by its number from 1 (as the keys count).
      if (!(number >= 1.0 && number <= static_cast<double>(kBankSlots)) || number != std::floor(number)) {
        decoded.why = "the slot is not a whole number from 1 to " + std::to_string(kBankSlots);
        return;
      }
      request.number = static_cast<int>(number) - 1;
      break;
    case PlayerAction::SetBlackout:
    case PlayerAction::SetTempoLock:
    case PlayerAction::SetAutopilot:
      request.on = number != 0.0;
      break;
    case PlayerAction::NudgeTempo:
      request.number = number > 0.0 ? 1 : number < 0.0 ? -1 : 0;
      request.on = request.number != 0;
      break;
    default:
      break;
  }
  decoded.ok = true;
}

}  // namespace

namespace {

uint32_t BigEndian32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}

bool IsBundle(const char* data, size_t size) { return size >= 16 && std::memcmp(data, "#bundle", 8) == 0; }

// The bundle's messages into `out`, in order; false with the reason when it
// is malformed, too deep or too full.
bool DecodeBundle(char* data, size_t size, int depth, const ParameterNames& names, std::vector<OscDecoded>& out,
                  std::string& why) {
  if (depth > kMaxOscBundleDepth) return why = "bundles nested more than " + std::to_string(kMaxOscBundleDepth) + " deep", false;
  const uint64_t timeTag = (uint64_t{BigEndian32(data + 8)} << 32) | BigEndian32(data + 12);
  for (size_t at = 16; at < size;) {
    if (size - at < 4) return why = "a bundle element without its size", false;
    const uint32_t length = BigEndian32(data + at);
    at += 4;
    if (length == 0 || length % 4 != 0 || length > size - at) return why = "a bundle element of a wrong size", false;
    if (IsBundle(data + at, length)) {
      // OSC: a bundle inside a bundle comes no earlier than the one around it.
      const uint64_t innerTag = (uint64_t{BigEndian32(data + at + 8)} << 32) | BigEndian32(data + at + 12);
      if (innerTag < timeTag) return why = "a bundle inside a bundle with an earlier time tag", false;
      if (!DecodeBundle(data + at, length, depth + 1, names, out, why)) return false;
    } else {
      if (out.size() == kMaxOscBundleMessages)
        return why = "more than " + std::to_string(kMaxOscBundleMessages) + " messages in a bundle", false;
      out.push_back(DecodeOsc(data + at, length, names));
      out.back().timeTag = timeTag;
    }
    at += length;
  }
  return true;
}

}  // namespace

std::string OscName(const std::string& displayName) {
  std::string name;
  for (char c : displayName) name += c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::vector<OscDecoded> DecodeOscPacket(char* data, size_t size, const ParameterNames& names) {
  if (size > kMaxOscMessageBytes || !IsBundle(data, size)) return {DecodeOsc(data, size, names)};
  std::vector<OscDecoded> messages;
  std::string why;
  if (!DecodeBundle(data, size, 0, names, messages, why)) {
    OscDecoded refused;
    refused.address = "(bundle)";
    refused.why = why;
    return {refused};
  }
  if (messages.empty()) {
    OscDecoded refused;
    refused.address = "(bundle)";
    refused.why = "an empty bundle";
    return {refused};
  }
  return messages;
}

OscDecoded DecodeOsc(char* data, size_t size, const ParameterNames& names) {
  OscDecoded decoded;
  if (size > kMaxOscMessageBytes) {
    decoded.address = "(oversized)";
    decoded.why = "a message of more than " + std::to_string(kMaxOscMessageBytes) + " bytes";
    return decoded;
  }
  int result = 0;
  lo_message message = lo_message_deserialise(data, size, &result);
  if (!message) {
    decoded.address = "(not OSC)";
    decoded.why = "not a well-formed OSC message";
    return decoded;
  }
  // A well-formed message's address is a terminated string within the data.
  const char* path = lo_get_path(data, static_cast<ssize_t>(size));
  decoded.address = path ? path : "";
  const char* types = lo_message_get_types(message);
  Interpret(decoded, types ? types : "", lo_message_get_argv(message), names);
  lo_message_free(message);
  return decoded;
}

namespace {

// The message liblo makes of `add`'s argument, serialised.
template <typename Add>
std::string Serialised(const std::string& address, Add add) {
  lo_message message = lo_message_new();
  add(message);
  size_t size = 0;
  void* bytes = lo_message_serialise(message, address.c_str(), nullptr, &size);
  std::string serialised;
  if (bytes) serialised.assign(static_cast<const char*>(bytes), size);
  std::free(bytes);
  lo_message_free(message);
  return serialised;
}

}  // namespace

std::string EncodeOsc(const std::string& address, float value) {
  return Serialised(address, [value](lo_message message) { lo_message_add_float(message, value); });
}

std::string EncodeOsc(const std::string& address, int value) {
  return Serialised(address, [value](lo_message message) { lo_message_add_int32(message, value); });
}

std::string EncodeOsc(const std::string& address, const std::string& text) {
  return Serialised(address, [&text](lo_message message) { lo_message_add_string(message, text.c_str()); });
}

std::string EncodeOscBlob(const std::string& address, const std::string& bytes) {
  return Serialised(address, [&bytes](lo_message message) {
    lo_blob blob = lo_blob_new(static_cast<int32_t>(bytes.size()), bytes.data());
    lo_message_add_blob(message, blob);
    lo_blob_free(blob);
  });
}

}  // namespace tool
