// libFuzzer target for what the web server leaves to this program: a
// request's target and cookie (decoding, the token taken out), the answer
// to it (OSCQuery's tree, attributes, HOST_INFO, the page), and a WebSocket's
// messages (LISTEN and IGNORE as JSON, OSC as binary). The first byte picks
// which; the rest is the input. Nothing may crash or grow without bound, and
// an answer is always a status the server can send.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ParameterTable.h"
#include "formats/ParameterProfile.h"
#include "remote/ShowService.h"
#include "remote/WebAccess.h"

namespace {

struct Served {
  Served(const std::vector<tool::ParameterDescription>& parameters, const tool::ParameterProfile& profile)
      : inbox(tool::ParameterProfile::TableNames()), tree(parameters, profile, 4), changes(tree),
        service(inbox, tree, changes) {}
  tool::OscInbox inbox;
  tool::OscQueryTree tree;
  tool::ShowChanges changes;
  tool::ShowService service;
};

Served& Service() {
  static const std::vector<tool::ParameterDescription> parameters = [] {
    std::vector<tool::ParameterDescription> list;
    for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
      list.push_back({row.index, row.name, 0, row.defaultValue, 0.0f, 1.0f});
    return list;
  }();
  static const tool::ParameterProfile profile =
      tool::ParameterProfile::For({tessarvander::kPluginId, "Tessarvander", 2, 1, 1, 1, 0, "", ""});
  static Served served(parameters, profile);
  return served;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  Served& served = Service();
  tool::ShowService& service = served.service;
  switch (data[0] % 3) {
    case 0: {  // a target, then after a newline the cookie header
      const size_t newline = input.find('\n');
      tool::web::Target target;
      if (!tool::web::ReadTarget(input.substr(0, newline),
                                 newline == std::string_view::npos ? "" : input.substr(newline + 1), target))
        return 0;
      if (target.path.find('\0') != std::string::npos) __builtin_trap();
      tool::web::Request request;
      request.path = target.path;
      request.query = target.query;
      request.localAddress = "127.0.0.1";
      const tool::web::Answer answer = service.Answer(request);
      if (answer.status < 200 || answer.status > 599) __builtin_trap();
      break;
    }
    case 1:
    case 2: {
      std::string message(input);
      service.Received(1, data[0] % 3 == 2, message);
      std::vector<tool::OscCommand> commands;
      served.inbox.Drain(1e12, commands);  // the inbox stays bounded
      break;
    }
  }
  return 0;
}
