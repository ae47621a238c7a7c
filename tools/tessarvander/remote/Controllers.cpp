#include "remote/Controllers.h"

#include "remote/QrCode.h"

#include "remote/OscListener.h"
#include "remote/ShowService.h"
#include "sys/HostAndPort.h"

namespace tool {

Controllers::Controllers(const ParameterNames& names, const std::vector<ParameterDescription>& parameters,
                         const ParameterProfile& profile, size_t bankSize)
    : inbox(names), tree(parameters, profile, bankSize), changes(tree) {}

Controllers::~Controllers() = default;

bool Controllers::Start(const Setup& setup, std::vector<std::string>& said, std::string& error) {
  if (setup.oscPort > 0) {
    osc = std::make_unique<OscListener>(inbox, changes);
    SocketAddress reply;
    if (!setup.oscReply.empty()) {
      if (!ResolveUdpAddress("--osc-reply", setup.oscReply, reply, error) || !osc->ReplyTo(reply, error)) return false;
    }
    if (!osc->Start(setup.oscHost, setup.oscPort, error)) return false;
    said.push_back("listening for OSC on " + setup.oscHost + " port " + std::to_string(setup.oscPort) +
                   (IsLoopback(setup.oscHost) ? " (this machine only)"
                                              : " (from the network: anyone who reaches this machine can steer)") +
                   (setup.oscReply.empty() ? "" : "; changes go to " + setup.oscReply));
  }
  if (setup.web) {
    web = std::make_unique<ShowService>(inbox, tree, changes);
    ShowService::Setup served;
    served.host = setup.webHost;
    served.port = setup.webPort;
    served.oscPort = setup.oscPort;
    served.readOnly = setup.readOnly;
    if (!web->Start(served, error)) {
      error = setup.webOption + ": " + error;
      return false;
    }
    for (const std::string& line : web->Reach()) said.push_back(line);
  }
  return true;
}

void Controllers::Answer(std::vector<OscAnswer>& answers) {
  for (OscAnswer& answer : answers)
    if (osc && !answer.sender.empty())
      osc->Send(std::move(answer.sender), EncodeOsc(answer.address, answer.value));
  answers.clear();
}

void Controllers::Refuse(std::vector<OscRefusal>& refusals) {
  for (const OscRefusal& refusal : refusals) inbox.Refused("OSC", refusal.address, refusal.why);
  refusals.clear();
}

int Controllers::WebPort() const { return web ? web->Port() : 0; }
std::string Controllers::RemoteUrl() const { return web ? web->RemoteUrl() : ""; }

std::vector<std::string> Controllers::RemoteQrCode() const {
  return web ? QrCodeLines(web->RemoteUrl()) : std::vector<std::string>();
}

}  // namespace tool
