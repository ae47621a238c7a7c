// The bounds of the player's web server (OSCQuery and the remote page), in
// one place: what one client, and all of them together, can hold. The docs
// (docs/osc.md) state them as written here.
#pragma once

#include <chrono>
#include <cstddef>

namespace tool::web {

using std::chrono::milliseconds;
using std::chrono::seconds;

// A request: its header at most this many bytes and fields, all of it
// within the deadline from its first byte. A request with a body is refused
// (nothing here takes one).
constexpr size_t kMaxHeaderBytes = 8 * 1024;
constexpr size_t kMaxHeaderFields = 64;
constexpr seconds kRequestDeadline{2};
// An answer must be taken by the client within this.
constexpr seconds kWriteDeadline{5};
// A kept-alive connection waits this long for its next request.
constexpr seconds kIdleTimeout{15};

// Connections of every kind at once. A newcomer beyond them closes, first, a
// connection whose answer has not moved for kStalledWrite (a client that
// does not read), else the connection idle longest, else the oldest still
// sending its request; WebSockets are never closed for a newcomer, and are
// capped below that. One address holds at most kMaxConnectionsPerPeer: past
// them its newcomer makes room among its own.
constexpr size_t kMaxConnections = 64;
constexpr size_t kMaxWebSockets = 16;
constexpr size_t kMaxConnectionsPerPeer = 32;
constexpr milliseconds kStalledWrite{1000};

// A WebSocket: one message at most this long, whole within
// kMessageDeadline of its first byte and in at most kMaxFramesPerMessage
// frames; at most kMessagesPerSecond messages and control frames (pings)
// a second on average, in bursts of at most kMessageBurst; at most
// kBytesPerSecond of frames of any kind (fragments and control frames
// included), in bursts of kByteBurst; at most kMaxQueuedBytes waiting to go
// out to a client that does not read. Beyond any of them the socket is
// closed. A socket that answers no ping within the idle time goes.
constexpr size_t kMaxMessageBytes = 4096;
constexpr seconds kMessageDeadline{2};
constexpr size_t kMaxFramesPerMessage = 64;
constexpr double kMessagesPerSecond = 200.0;
constexpr double kMessageBurst = 400.0;
constexpr double kBytesPerSecond = 64.0 * 1024;
constexpr double kByteBurst = 256.0 * 1024;
constexpr size_t kMaxQueuedBytes = 256 * 1024;
constexpr seconds kSocketIdle{30};

// How often listened values are compared and the changes pushed.
constexpr milliseconds kPushInterval{33};

// What all connections can hold together, by the bounds above (the buffers
// for headers and messages, and what waits to go out).
constexpr size_t kMostHeldBytes =
    kMaxConnections * 2 * kMaxHeaderBytes + kMaxWebSockets * (2 * kMaxMessageBytes + kMaxQueuedBytes);

}  // namespace tool::web
