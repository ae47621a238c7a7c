// The player's web server in-process, on a real port: what it serves and
// refuses, LISTEN, the token, and hostile clients. Against every attack a
// normal request is answered within a second, the frame loop's calls never
// wait, memory stays within 50 MB of idle, and the descriptors come back.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <lo/lo.h>
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ParameterTable.h"
#include "RunProgram.h"
#include "WebClient.h"
#include "formats/ParameterProfile.h"
#include "remote/Controllers.h"
#include "remote/WebAccess.h"
#include "remote/WebServer.h"
#include "remote/WebLimits.h"
#include "sys/HostAndPort.h"
#include "sys/SteadyClock.h"

namespace {

namespace fs = std::filesystem;

using Clock = std::chrono::steady_clock;
using testsupport::HttpGet;
using testsupport::WebSocketClient;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// An answer within a second; a sanitizer's build runs several times slower.
constexpr double kAnswerSeconds = kSanitized ? 5.0 : 1.0;
constexpr double kMostGrowthMb = 50.0;

std::vector<tool::ParameterDescription> Parameters() {
  std::vector<tool::ParameterDescription> parameters;
  for (const tessarvander::ParameterRow& row : tessarvander::kParameterRows)
    parameters.push_back({row.index, row.name, 0, row.defaultValue, 0.0f, 1.0f});
  return parameters;
}

double ResidentMebibytes() {
  long size = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder)) ++count;
    closedir(folder);
  }
  return count;
}

// A raw TCP connection to the server; -1 if refused.
int Connect(int port) {
  const int socketFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(socketFd);
    return -1;
  }
  return socketFd;
}

bool SendAll(int socketFd, const std::string& bytes) {
  return send(socketFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// A client's WebSocket frame, masked as a client's must be: FIN (or not),
// the opcode, and the payload.
std::string Frame(bool fin, int opcode, const std::string& payload) {
  std::string frame{static_cast<char>((fin ? 0x80 : 0) | opcode), static_cast<char>(0x80 | payload.size())};
  const char mask[4] = {0x11, 0x22, 0x33, 0x44};
  frame.append(mask, 4);
  for (size_t i = 0; i < payload.size(); ++i) frame += static_cast<char>(payload[i] ^ mask[i % 4]);
  return frame;
}

// A WebSocket opened by hand on a raw connection, `after` sent in the same
// write as the upgrade request; -1 when the server refuses it.
int RawSocket(int port, const std::string& after = "") {
  const int socketFd = Connect(port);
  if (socketFd < 0) return -1;
  const std::string upgrade = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
  std::string answer;
  char byte = 0;
  timeval patience{5, 0};
  setsockopt(socketFd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  if (SendAll(socketFd, upgrade + after))
    while (answer.find("\r\n\r\n") == std::string::npos && recv(socketFd, &byte, 1, 0) == 1) answer += byte;
  if (answer.rfind("HTTP/1.1 101", 0) != 0) {
    close(socketFd);
    return -1;
  }
  return socketFd;
}

// Whether the server closed the connection within `seconds` (what it sends
// meanwhile is read and dropped).
bool ClosedWithin(int socketFd, double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  char buffer[4096];
  while (Clock::now() < deadline) {
    pollfd waiting{socketFd, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) continue;
    const ssize_t got = recv(socketFd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return true;
  }
  return false;
}

// The show as a frame loop of 60 calls a second publishes it, draining what
// came in, on a thread of its own; it keeps the longest call.
class FrameLoop {
 public:
  explicit FrameLoop(tool::Controllers& service) : service(service) {
    state.parameters.assign(tessarvander::kParameterCount, 0.5f);
    state.health.assign(static_cast<size_t>(tool::Health::Count), 0.0f);
    state.bank = {"01-first", "", "03-third"};
    service.Publish(state);  // before any request
    thread = std::thread([this] { Run(); });
  }
  ~FrameLoop() {
    stop = true;
    thread.join();
  }
  double LongestCall() const { return longest; }
  size_t Commands() const { return commands; }

 private:
  void Run() {
    std::vector<tool::OscCommand> drained;
    while (!stop) {
      const auto start = Clock::now();
      service.Drain(1e12, drained);
      for (const tool::OscCommand& command : drained)
        if (command.request.action == tool::PlayerAction::SetParameter)
          state.parameters[static_cast<size_t>(command.request.number)] = command.request.value;
      commands += drained.size();
      state.health[0] += 1.0f;
      service.Publish(state);
      longest = std::max(longest.load(), std::chrono::duration<double>(Clock::now() - start).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
  }

  tool::Controllers& service;
  tool::ShowState state;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<double> longest{0.0};
  std::atomic<size_t> commands{0};
};

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service = std::make_unique<tool::Controllers>(tool::ParameterProfile::TableNames(), parameters, profile, 3);
    std::string error;
    std::vector<std::string> said;
    tool::Controllers::Setup setup;
    setup.web = true;
    ASSERT_TRUE(service->Start(setup, said, error)) << error;
    port = service->WebPort();
    loop = std::make_unique<FrameLoop>(*service);
  }
  void TearDown() override {
    loop.reset();
    service.reset();
  }

  // A normal request, answered in time with the tree's node.
  void ExpectAnsweredInTime(const std::string& during) {
    const auto start = Clock::now();
    const auto reply = HttpGet(port, "/tessarvander/param/zoom?VALUE", kAnswerSeconds);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(reply.status, 200) << during << ": no answer within " << kAnswerSeconds << " s";
    EXPECT_LT(took, kAnswerSeconds) << during;
  }

  // Waits up to 20 s for the condition; true if it came.
  template <class Condition>
  static bool WaitUntil(Condition condition) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!condition() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return condition();
  }

  // An attack on its own threads while a normal client asks; then the
  // checks that follow every attack.
  void Survive(const std::string& name, int clients, std::function<void(int client, std::atomic<bool>& stop)> attack,
               double seconds) {
    SCOPED_TRACE(name);
    const int descriptorsBefore = OpenDescriptors();
    const double memoryBefore = ResidentMebibytes();
    std::atomic<bool> stop{false};
    std::vector<std::thread> attackers;
    for (int client = 0; client < clients; ++client)
      attackers.emplace_back([&, client] { attack(client, stop); });
    // Under way once the attackers hold sockets of their own.
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptors() > descriptorsBefore; })) << "the attack never connected";
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
      ExpectAnsweredInTime(name);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const double memoryDuring = ResidentMebibytes();
    stop = true;
    for (std::thread& attacker : attackers) attacker.join();
    ExpectAnsweredInTime(name + ", after");
    EXPECT_TRUE(WaitUntil([&] { return OpenDescriptors() <= descriptorsBefore; })) << OpenDescriptors() << " open, " << descriptorsBefore << " before";
    if (!kSanitized) {
      EXPECT_LT(memoryDuring - memoryBefore, kMostGrowthMb);
    }
    EXPECT_LT(loop->LongestCall(), 0.25) << "the frame loop waited for the server";
  }

  const std::vector<tool::ParameterDescription> parameters = Parameters();
  const tool::ParameterProfile profile = tool::ParameterProfile::For({"QLMB", "Tessarvander", 2, 1, 1, 1, 0, "", ""});
  std::unique_ptr<tool::Controllers> service;
  std::unique_ptr<FrameLoop> loop;
  int port = 0;
};

TEST_F(WebServerTest, ServesTheTreeAndThePageAndNothingElse) {
  const auto tree = HttpGet(port, "/");
  EXPECT_EQ(tree.status, 200);
  for (const char* part : {"\"/tessarvander/param/zoom\"", "\"/tessarvander/param/depth_layers/meaning\"",
                           "\"VALUE\":[\"6 layers\"]", "\"/tessarvander/bank/3\"", "\"VALUE\":[\"03-third\"]",
                           "\"/tessarvander/status/tempo\""})
    EXPECT_NE(tree.body.find(part), std::string::npos) << part;
  const auto page = HttpGet(port, "/remote");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<title>Tessarvander remote</title>"), std::string::npos);
  EXPECT_NE(page.headers.find("Content-Security-Policy: default-src 'none'"), std::string::npos) << page.headers;
  EXPECT_EQ(HttpGet(port, "/tessarvander/param/zoom?VALUE").body, "{\"VALUE\":[0.5]}");
  EXPECT_EQ(HttpGet(port, "/tessarvander/tap?VALUE").status, 204);

  // Paths reach the tree only: nothing from a request names a file.
  for (const char* path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/remote/../../etc/passwd",
                           "/tessarvander/param/sparkle", "/tessarvander/param/zoom/../../../../etc/passwd"})
    EXPECT_EQ(HttpGet(port, path).status, 404) << path;
  for (const char* target : {"/%00", "/%zz", "/tessarvander%"}) EXPECT_EQ(HttpGet(port, target).status, 400) << target;
  EXPECT_EQ(HttpGet(port, "/" + std::string(20000, 'a')).status, 431);
  // Another host's name for this machine (a rebound DNS name) is refused.
  EXPECT_EQ(HttpGet(port, "/", 10.0, "evil.example").status, 403);
  const int raw = Connect(port);
  ASSERT_TRUE(SendAll(raw, "POST /tessarvander/param/zoom HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\n\r\n0.1"));
  char answer[64] = {};
  EXPECT_GT(recv(raw, answer, sizeof answer - 1, 0), 12);
  EXPECT_EQ(std::string(answer).substr(0, 12), "HTTP/1.1 413");
  close(raw);
}

TEST_F(WebServerTest, ASocketListensAndSetsLikeOsc) {
  WebSocketClient socket;
  std::string error, message;
  ASSERT_TRUE(socket.Open(port, "/", error)) << error;
  ASSERT_TRUE(socket.Send(R"({"COMMAND":"LISTEN","DATA":"/tessarvander/param/zoom"})", false));
  ASSERT_TRUE(socket.Receive(message, 10.0));
  EXPECT_EQ(message.substr(0, 24), "/tessarvander/param/zoom");
  // A set over the socket goes through the OSC decoder to the frame loop,
  // whose new value comes back to the listener.
  const std::string set = std::string("/tessarvander/param/zoom\0\0\0\0,f\0\0", 32) + std::string("\x3f\x40\0\0", 4);
  ASSERT_TRUE(socket.Send(set, true));
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (message != set && Clock::now() < deadline) socket.Receive(message, 5.0);
  EXPECT_EQ(message, set);
  // Junk is dropped, and the socket stays.
  EXPECT_TRUE(socket.Send("{\"COMMAND\":", false));
  EXPECT_TRUE(socket.Send(std::string("\x01\x02\x03"), true));
  EXPECT_TRUE(socket.Send(R"({"COMMAND":"IGNORE","DATA":"/tessarvander/param/zoom"})", false));
  EXPECT_EQ(HttpGet(port, "/tessarvander/param/zoom?VALUE").body, "{\"VALUE\":[0.75]}");

  // A socket opened from another site's page is refused.
  WebSocketClient foreign;
  EXPECT_FALSE(foreign.Open(port, "/", error, "http://evil.example"));
}

TEST(WebServerAccessTest, WithATokenEveryRequestAndSocketMustCarryIt) {
  tool::web::WebServer server;
  tool::web::Handlers handlers;
  handlers.answer = [](const tool::web::Request& request) {
    return tool::web::Answer{200, "text/plain", "path " + request.path + " query " + request.query, {}};
  };
  const std::string token = tool::web::NewToken();
  ASSERT_EQ(token.size(), 32u);
  std::string error;
  ASSERT_TRUE(server.Start("127.0.0.1", 0, token, handlers, error)) << error;
  const int port = server.Port();
  EXPECT_EQ(HttpGet(port, "/remote").status, 403);
  // One character off (the token is random: the wrong one must differ).
  const std::string oneOff = token.substr(0, 31) + (token.back() == '0' ? "1" : "0");
  EXPECT_EQ(HttpGet(port, "/remote?token=" + oneOff).status, 403);
  EXPECT_EQ(HttpGet(port, "/remote?token=" + token + "x").status, 403);
  const auto admitted = HttpGet(port, "/remote?VALUE&token=" + token, 10.0, "stage.local");
  EXPECT_EQ(admitted.status, 200) << "any host name, with the token";
  EXPECT_EQ(admitted.body, "path /remote query VALUE") << "the token is not the handler's";
  EXPECT_NE(admitted.headers.find("Set-Cookie: tessarvander-token=" + token + "; Path=/; HttpOnly; SameSite=Strict"),
            std::string::npos);
  EXPECT_EQ(HttpGet(port, "/", 10.0, "127.0.0.1", {"Cookie: a=b; tessarvander-token=" + token}).status, 200);
  WebSocketClient socket;
  EXPECT_FALSE(socket.Open(port, "/", error));
  WebSocketClient withToken;
  EXPECT_TRUE(withToken.Open(port, "/?token=" + token, error)) << error;
}

TEST_F(WebServerTest, HostileClientsAreBounded) {
  // Header floods: endless header lines from several clients.
  Survive("header floods", 4, [this](int, std::atomic<bool>& stop) {
    const std::string line = "X-Flood: " + std::string(100, 'x') + "\r\n";
    while (!stop) {
      const int socketFd = Connect(port);
      if (socketFd < 0) continue;
      SendAll(socketFd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
      while (!stop && SendAll(socketFd, line)) {
      }
      close(socketFd);
    }
  }, 2.5);

  // Slow clients: a byte a second.
  Survive("slow clients", 8, [this](int, std::atomic<bool>& stop) {
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    while (!stop) {
      const int socketFd = Connect(port);
      for (size_t at = 0; socketFd >= 0 && !stop && at < request.size() && SendAll(socketFd, request.substr(at, 1)); ++at)
        for (int wait = 0; wait < 10 && !stop; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (socketFd >= 0) close(socketFd);
    }
  }, 3.5);

  // 200 idle connections, held.
  Survive("200 idle connections", 1, [this](int, std::atomic<bool>& stop) {
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i)
      if (const int socketFd = Connect(port); socketFd >= 0) idle.push_back(socketFd);
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int socketFd : idle) close(socketFd);
  }, 2.0);

  // WebSockets: oversized messages, floods, and more sockets than the cap.
  Survive("oversized messages and floods", 3, [this](int client, std::atomic<bool>& stop) {
    while (!stop) {
      WebSocketClient socket;
      std::string error, message;
      if (!socket.Open(port, "/", error)) continue;
      if (client == 0) {
        socket.Send(std::string(tool::web::kMaxMessageBytes + 1, 'x'), true);
      } else if (client == 1) {
        for (int i = 0; i < 2000 && socket.Send(R"({"COMMAND":"LISTEN","DATA":"/tessarvander/look"})", false); ++i) {
        }
      } else {
        std::vector<std::unique_ptr<WebSocketClient>> many;
        for (size_t i = 0; i < tool::web::kMaxWebSockets + 4; ++i) {
          many.push_back(std::make_unique<WebSocketClient>());
          many.back()->Open(port, "/", error);
        }
      }
      EXPECT_FALSE(socket.Receive(message, 5.0) && client == 0) << "an oversized message closes the socket";
    }
  }, 3.0);
  EXPECT_EQ(loop->Commands(), 0u) << "nothing of the junk reached the frame loop";

  // Clients that pipeline requests and never read their answers: stalled
  // answers are the first to go when room is needed.
  Survive("clients that never read", 64, [this](int, std::atomic<bool>& stop) {
    const int socketFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int tiny = 1024;
    setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      const std::string request = "GET /remote HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
      for (int k = 0; k < 64 && !stop; ++k) send(socketFd, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    close(socketFd);
  }, 3.0);

  // A message that never ends (empty continuation frames without end) and a
  // flood of empty pings: each socket is closed within its bounds.
  for (const auto& [name, unit] : std::vector<std::pair<std::string, std::string>>{
           {"endless fragments", Frame(false, 0x0, "")}, {"a ping flood", Frame(true, 0x9, "")}}) {
    SCOPED_TRACE(name);
    const int socketFd = RawSocket(port, name == "endless fragments" ? Frame(false, 0x2, "") : "");
    ASSERT_GE(socketFd, 0);
    std::string burst;
    for (int k = 0; k < 1000; ++k) burst += unit;
    const auto until = Clock::now() + std::chrono::seconds(6);
    bool closed = false;
    while (!closed && Clock::now() < until) {
      closed = !SendAll(socketFd, burst) || ClosedWithin(socketFd, 0.01);
    }
    EXPECT_TRUE(closed || ClosedWithin(socketFd, 1.0)) << "still open after 6 s of it";
    close(socketFd);
    ExpectAnsweredInTime(name);
  }

  // Frames sent with the upgrade, before its answer, reach the show.
  char osc[64];
  lo_message set = lo_message_new();
  lo_message_add_float(set, 0.375f);
  size_t length = sizeof osc;
  lo_message_serialise(set, "/tessarvander/param/zoom", osc, &length);
  lo_message_free(set);
  const int eager = RawSocket(port, Frame(true, 0x2, std::string(osc, length)));
  ASSERT_GE(eager, 0);
  EXPECT_TRUE(WaitUntil([&] { return HttpGet(port, "/tessarvander/param/zoom?VALUE").body == "{\"VALUE\":[0.375]}"; }))
      << "the frame sent with the upgrade was lost";
  close(eager);
}

}  // namespace

namespace {

// A UDP socket of the test's own on a loopback address; -1 if the machine
// has no such address.
int ReceivingSocket(int family, int port) {
  const int socketFd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6, v6->sin6_port = htons(static_cast<uint16_t>(port)), v6->sin6_addr = in6addr_loopback;
    length = sizeof(sockaddr_in6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET, v4->sin_port = htons(static_cast<uint16_t>(port));
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(sockaddr_in);
  }
  if (socketFd >= 0 && bind(socketFd, reinterpret_cast<sockaddr*>(&address), length) == 0) return socketFd;
  if (socketFd >= 0) close(socketFd);
  return -1;
}

int FreeUdpPort() {
  const int probe = ReceivingSocket(AF_INET, 0);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(probe, reinterpret_cast<sockaddr*>(&bound), &length);
  close(probe);
  return ntohs(bound.sin_port);
}

// The first line of the answer to GET / from a TCP connection to `address`.
std::string StatusOver(int family, const char* address, int port, const std::string& hostHeader) {
  const int socketFd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage to{};
  socklen_t length = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
    v6->sin6_family = AF_INET6, v6->sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, address, &v6->sin6_addr);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
    v4->sin_family = AF_INET, v4->sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &v4->sin_addr);
  }
  std::string answer;
  if (connect(socketFd, reinterpret_cast<sockaddr*>(&to), length) == 0 &&
      SendAll(socketFd, "GET /?HOST_INFO HTTP/1.1\r\nHost: " + hostHeader + "\r\nConnection: close\r\n\r\n")) {
    char buffer[256];
    const ssize_t got = recv(socketFd, buffer, sizeof buffer, 0);
    if (got > 0) answer.assign(buffer, static_cast<size_t>(got));
  }
  close(socketFd);
  return answer.substr(0, answer.find('\r'));
}

}  // namespace

// Every option that takes HOST:PORT reads it one way: a bracketed IPv6
// address and a host name reach the controller (--osc-reply hears a change)
// and serve the web side (--remote); what is not HOST:PORT is one line.
TEST(ControllersTest, EveryHostAndPortOptionTakesBracketedIpv6AndNames) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(tool::ParseHostAndPort("[::1]:9000", host, port) && host == "::1" && port == 9000);
  EXPECT_TRUE(tool::ParseHostAndPort("stage.local:80", host, port) && host == "stage.local" && port == 80);
  host = "kept";
  EXPECT_TRUE(tool::ParseHostAndPort("8080", host, port) && host == "kept" && port == 8080);
  for (const char* bad : {"127.0.0.1:", ":9000", "::1:9000", "[::1]9000", "[]:9000", "host:port", "host:99999999",
                          "host:0", ""})
    EXPECT_FALSE(tool::ParseHostAndPort(bad, host, port)) << bad;

  const std::vector<tool::ParameterDescription> parameters = Parameters();
  const tool::ParameterProfile profile = tool::ParameterProfile::For({"QLMB", "Tessarvander", 2, 1, 1, 1, 0, "", ""});
  const struct {
    const char* reply;   // --osc-reply, with %d for the port
    int family;          // where it lands
    const char* remote;  // --remote's host
    const char* address;
    const char* hostHeader;
  } cases[] = {{"[::1]:%d", AF_INET6, "::1", "::1", "[::1]"}, {"localhost:%d", AF_INET, "localhost", "127.0.0.1", "localhost"}};
  for (const auto& given : cases) {
    SCOPED_TRACE(given.reply);
    const int listening = FreeUdpPort();
    const int hearing = ReceivingSocket(given.family, 0);
    if (hearing < 0 && given.family == AF_INET6) GTEST_SKIP() << "no IPv6 loopback on this machine";
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(hearing, reinterpret_cast<sockaddr*>(&bound), &length);
    const int replyPort = ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);  // same place in both families
    char reply[64];
    std::snprintf(reply, sizeof reply, given.reply, replyPort);

    tool::Controllers controllers(tool::ParameterProfile::TableNames(), parameters, profile, 0);
    tool::Controllers::Setup setup;
    setup.oscPort = listening;
    setup.oscReply = reply;
    setup.web = true;
    setup.webHost = given.remote;
    std::vector<std::string> said;
    std::string error;
    ASSERT_TRUE(controllers.Start(setup, said, error)) << error;
    tool::ShowState state;
    state.parameters.assign(tessarvander::kParameterCount, 0.5f);
    controllers.Publish(state);
    char heard[512];
    timeval patience{10, 0};
    setsockopt(hearing, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    const ssize_t got = recv(hearing, heard, sizeof heard, 0);
    ASSERT_GT(got, 0) << "nothing reached " << reply;
    EXPECT_EQ(std::string(heard).rfind("/tessarvander/param/", 0), 0u) << std::string(heard);
    close(hearing);
    EXPECT_EQ(StatusOver(given.family, given.address, controllers.WebPort(), given.hostHeader), "HTTP/1.1 200 OK");
  }

  tool::Controllers refused(tool::ParameterProfile::TableNames(), parameters, profile, 0);
  tool::Controllers::Setup setup;
  setup.oscPort = FreeUdpPort();
  setup.oscReply = "[::1]9000";
  std::vector<std::string> said;
  std::string error;
  EXPECT_FALSE(refused.Start(setup, said, error));
  EXPECT_EQ(error, "--osc-reply: \"[::1]9000\" is not HOST:PORT of a reachable host");
}

// A remote on every interface names each address of the machine that is up
// (its own last) and never the wildcard; the first one's address as a QR
// code in the terminal reads back, through zbar, as that address.
TEST(ControllersTest, ARemoteOnEveryInterfaceSaysWhereToReachItAndShowsACode) {
  EXPECT_EQ(tool::ReachableAddresses("192.0.2.7"), std::vector<std::string>{"192.0.2.7"});
  for (const char* wildcard : {"0.0.0.0", "::"}) {
    const std::vector<std::string> addresses = tool::ReachableAddresses(wildcard);
    ASSERT_FALSE(addresses.empty());
    EXPECT_TRUE(tool::IsLoopback(addresses.back())) << "this machine's own address last";
    for (const std::string& address : addresses) EXPECT_NE(address.find_first_not_of("0.:"), std::string::npos);
  }
  const std::vector<tool::ParameterDescription> parameters = Parameters();
  const tool::ParameterProfile profile = tool::ParameterProfile::For({"QLMB", "Tessarvander", 2, 1, 1, 1, 0, "", ""});
  tool::Controllers controllers(tool::ParameterProfile::TableNames(), parameters, profile, 0);
  tool::Controllers::Setup setup;
  setup.web = true;
  setup.webHost = "0.0.0.0";
  std::vector<std::string> said;
  std::string error;
  ASSERT_TRUE(controllers.Start(setup, said, error)) << error;
  std::string all;
  for (const std::string& line : said) all += line + "\n";
  EXPECT_EQ(all.find("0.0.0.0"), std::string::npos) << all;
  EXPECT_EQ(said.size(), tool::ReachableAddresses("0.0.0.0").size()) << all;
  const std::string url = controllers.RemoteUrl();
  EXPECT_NE(url.find("?token="), std::string::npos);
  EXPECT_NE(all.find(url), std::string::npos);

  // The terminal's lines as a picture: a character a module wide and two
  // high, white where a block is drawn.
  std::vector<std::string> rows;
  for (const std::string& line : controllers.RemoteQrCode()) {
    std::string top, bottom;
    const std::string plain = line.substr(line.find('m') + 1, line.rfind("\x1b") - line.find('m') - 1);
    for (size_t at = 0; at < plain.size();) {
      const std::string glyph = plain[at] == ' ' ? " " : plain.substr(at, 3);
      at += glyph.size();
      top += glyph == "\u2588" || glyph == "\u2580" ? '0' : '1';
      bottom += glyph == "\u2588" || glyph == "\u2584" ? '0' : '1';
    }
    rows.push_back(top);
    rows.push_back(bottom);
  }
  ASSERT_GT(rows.size(), 20u);
  const std::string picture = (fs::temp_directory_path() / ("qr-" + std::to_string(getpid()) + ".pbm")).string();
  {
    std::ofstream out(picture);
    const int scale = 4;  // zbar reads modules of a few pixels better
    out << "P1\n" << rows[0].size() * scale << " " << rows.size() * scale << "\n";
    for (const std::string& row : rows)
      for (int y = 0; y < scale; ++y) {
        for (const char module : row) out << std::string(scale, module);
        out << "\n";
      }
  }
  const testsupport::RunResult read = testsupport::RunProgram({"/usr/bin/zbarimg", "--raw", "-q", picture});
  fs::remove(picture);
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.out, url + "\n");
}

// The inbox every transport shares, flooded as one controller could: bundles
// of 64 sets timed 50 s ahead, 700 of them, and sets of a parameter's name
// padded with 3,990 "_". The flooding sender loses its own messages only:
// another sender's set still arrives at the next drain, what waits stays
// within the inbox's bounds, and the padded name is no parameter.
TEST(OscInboxTest, OneSenderCannotShutOutAnother) {
  tool::OscInbox inbox(tool::ParameterProfile::TableNames());
  const auto ahead = [](double seconds) {
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double ntp = now + 2208988800.0 + seconds;
    lo_timetag tag;
    tag.sec = static_cast<uint32_t>(ntp);
    tag.frac = static_cast<uint32_t>((ntp - std::floor(ntp)) * 4294967296.0);
    return tag;
  };
  const auto serialised = [](lo_bundle bundle) {
    size_t size = 0;
    void* bytes = lo_bundle_serialise(bundle, nullptr, &size);
    std::string data(static_cast<char*>(bytes), size);
    free(bytes);
    return data;
  };
  std::string later;
  {
    lo_bundle bundle = lo_bundle_new(ahead(50.0));
    for (int k = 0; k < 64; ++k) {
      lo_message set = lo_message_new();
      lo_message_add_float(set, 0.5f);
      lo_bundle_add_message(bundle, "/tessarvander/param/hue", set);
    }
    later = serialised(bundle);
    lo_bundle_free_recursive(bundle);
  }
  for (int k = 0; k < 700; ++k) {
    std::string data = later;
    inbox.Take(data.data(), data.size(), "", "flooder", "OSC");
  }
  char message[4096];
  const auto set = [&](const std::string& address, float value) {
    lo_message built = lo_message_new();
    lo_message_add_float(built, value);
    size_t length = sizeof message;
    lo_message_serialise(built, address.c_str(), message, &length);
    lo_message_free(built);
    return length;
  };
  for (int k = 0; k < 5000; ++k) {
    const size_t length = set("/tessarvander/param/zoom" + std::string(3990, '_'), 0.1f);
    inbox.Take(message, length, "", "flooder", "OSC");
  }
  size_t length = set("/tessarvander/param/zoom", 0.625f);
  inbox.Take(message, length, "", "another", "OSC");
  std::vector<tool::OscCommand> drained;
  inbox.Drain(tool::SteadySeconds(), drained);
  ASSERT_EQ(drained.size(), 1u) << "only the other controller's set is due, and it arrived";
  EXPECT_EQ(drained[0].request.number, static_cast<int>(tessarvander::param::Zoom));
  EXPECT_EQ(drained[0].request.value, 0.625f);
  // The flooder's later sets wait within its budget for later commands.
  inbox.Drain(tool::SteadySeconds() + 55.0, drained);
  EXPECT_EQ(drained.size(), tool::OscInbox::kSenderScheduled);
}
