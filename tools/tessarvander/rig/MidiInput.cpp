#include "rig/MidiInput.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstring>

#include "rig/SoundSystems.h"
#include "sys/SteadyClock.h"
#include "sys/Messages.h"

namespace tool {
namespace {

constexpr const char* kClientName = "tessarvander";

// RtMidi reports trouble through this instead of printing or throwing.
void Quietly(RtMidiError::Type, const std::string&, void*) {}

void Arrived(double, std::vector<unsigned char>* message, void* input) {
  if (message) static_cast<MidiInput*>(input)->Receive(message->data(), message->size());
}

const char* SystemName(RtMidi::Api api) { return api == RtMidi::UNIX_JACK ? "JACK" : "ALSA"; }

}  // namespace

// One MIDI system (ALSA or JACK) and a client that lists its ports.
struct MidiInput::System {
  RtMidi::Api api;
  std::unique_ptr<RtMidiIn> lister;
};

struct MidiInput::Port {
  RtMidi::Api api;
  std::string name;
  std::unique_ptr<RtMidiIn> in;
};

MidiInput::MidiInput() = default;

MidiInput::~MidiInput() {
  // Close the ports first: their threads call Receive.
  ports.clear();
  systems.clear();
}

void MidiInput::Receive(const unsigned char* bytes, size_t size) {
  MidiBytes message;
  message.at = SteadySeconds();
  if (size <= sizeof message.bytes) {
    std::memcpy(message.bytes, bytes, size);
    message.size = static_cast<uint8_t>(size);
  }
  std::lock_guard<std::mutex> hold(lock);
  if (pending.size() >= kPending) {
    ++droppedSince;
    return;
  }
  pending.push_back(message);
}

void MidiInput::Drain(std::vector<MidiBytes>& messages, long& dropped) {
  messages.clear();
  std::lock_guard<std::mutex> hold(lock);
  messages.swap(pending);
  dropped = droppedSince;
  droppedSince = 0;
}

bool MidiInput::Open(const std::string& port, std::vector<std::string>& lines, std::string& error) {
  wanted = port;
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  if (std::none_of(apis.begin(), apis.end(), [](RtMidi::Api api) { return api == RtMidi::LINUX_ALSA || api == RtMidi::UNIX_JACK; })) {
    error = "MIDI: this RtMidi has neither ALSA nor JACK";
    return false;
  }
  FindSystems();
  if (systems.empty())
    lines.push_back("MIDI: neither the ALSA sequencer nor a JACK server answers yet; looking again every 2 s");
  Scan(lines);
  if (!systems.empty() && ports.empty())
    lines.push_back("MIDI: no input " + (port.empty() ? std::string("port") : "port named like \"" + Printable(port, 60) + "\"") +
                    " yet; looking again every 2 s");
  return true;
}

// The systems that answer and are not open yet: a JACK server started after
// the player is found at the next watch.
void MidiInput::FindSystems() {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (RtMidi::Api api : apis) {
    if (api != RtMidi::LINUX_ALSA && api != RtMidi::UNIX_JACK) continue;
    if (std::any_of(systems.begin(), systems.end(), [&](const auto& system) { return system->api == api; })) continue;
    // Asked first: RtMidi prints when a system is not there.
    if (api == RtMidi::LINUX_ALSA ? !AlsaSequencerAvailable() : !JackServerRunning()) continue;
    try {
      auto system = std::make_unique<System>();
      system->api = api;
      system->lister = std::make_unique<RtMidiIn>(api, std::string(kClientName) + " ports");
      system->lister->setErrorCallback(Quietly, nullptr);
      systems.push_back(std::move(system));
    } catch (...) {
      // Gone between the question and the opening: the next watch asks again.
    }
  }
}

void MidiInput::Watch(double now, std::vector<std::string>& lines) {
  if (now - lastWatch < kWatchSeconds) return;
  lastWatch = now;
  FindSystems();
  Scan(lines);
}

void MidiInput::Scan(std::vector<std::string>& lines) {
  std::vector<std::pair<RtMidi::Api, std::string>> present;
  for (const std::unique_ptr<System>& system : systems) {
    try {
      const unsigned count = system->lister->getPortCount();
      for (unsigned i = 0; i < count; ++i) {
        const std::string name = system->lister->getPortName(i);
        // Our own clients' ports are never inputs to us.
        if (name.rfind(kClientName, 0) == 0) continue;
        if (wanted.empty() || name.find(wanted) != std::string::npos) present.push_back({system->api, name});
      }
    } catch (...) {
    }
  }
  // Vanished: open ports no longer listed.
  for (auto it = ports.begin(); it != ports.end();) {
    const bool there = std::any_of(present.begin(), present.end(),
                                   [&](const auto& entry) { return entry.first == (*it)->api && entry.second == (*it)->name; });
    if (there) {
      ++it;
      continue;
    }
    lines.push_back("MIDI: " + Printable((*it)->name, 80) + " vanished; playing on, and opening it again if it returns");
    vanished.push_back((*it)->name);
    it = ports.erase(it);
  }
  // New: listed ports not open yet.
  for (const auto& entry : present) {
    const bool open = std::any_of(ports.begin(), ports.end(),
                                  [&](const auto& port) { return port->api == entry.first && port->name == entry.second; });
    if (open) continue;
    try {
      auto port = std::make_unique<Port>();
      port->api = entry.first;
      port->name = entry.second;
      port->in = std::make_unique<RtMidiIn>(entry.first, kClientName, 1024);
      port->in->setErrorCallback(Quietly, nullptr);
      // The clock is wanted; system exclusive and active sensing are not.
      port->in->ignoreTypes(true, false, true);
      port->in->setCallback(Arrived, this);
      // Ports are numbered by this client's own listing.
      unsigned number = port->in->getPortCount();
      for (unsigned i = 0; i < port->in->getPortCount(); ++i)
        if (port->in->getPortName(i) == entry.second) number = i;
      if (number >= port->in->getPortCount()) continue;
      port->in->openPort(number, "midi in");
      if (!port->in->isPortOpen()) continue;
      const auto back = std::find(vanished.begin(), vanished.end(), entry.second);
      lines.push_back(std::string("MIDI: ") + (back != vanished.end() ? "back: " : "listening to ") +
                      Printable(entry.second, 80) + " (" + SystemName(entry.first) + ")");
      if (back != vanished.end()) vanished.erase(back);
      ports.push_back(std::move(port));
    } catch (...) {
      lines.push_back("MIDI: could not open " + Printable(entry.second, 80));
    }
  }
}

std::vector<std::string> MidiInput::OpenPorts() const {
  std::vector<std::string> names;
  for (const std::unique_ptr<Port>& port : ports) names.push_back(port->name);
  return names;
}

}  // namespace tool
