#include "WebClient.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <optional>

namespace testsupport {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

namespace {

std::chrono::milliseconds Patience(double seconds) {
  return std::chrono::milliseconds(static_cast<long>(seconds * 1000.0));
}

}  // namespace

HttpReply HttpGet(int port, const std::string& target, double patienceSeconds, const std::string& host,
                  const std::vector<std::string>& extraHeaders) {
  HttpReply reply;
  asio::io_context io;
  beast::tcp_stream stream(io);
  stream.expires_after(Patience(patienceSeconds));
  http::request<http::empty_body> request{http::verb::get, target, 11};
  request.set(http::field::host, host + ":" + std::to_string(port));
  for (const std::string& header : extraHeaders) {
    const size_t colon = header.find(':');
    request.set(header.substr(0, colon), header.substr(colon + 2));
  }
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  std::optional<beast::error_code> done;
  stream.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)),
                       [&](beast::error_code ec) {
                         if (ec) return void(done = ec);
                         http::async_write(stream, request, [&](beast::error_code written, size_t) {
                           if (written) return void(done = written);
                           http::async_read(stream, buffer, response,
                                            [&](beast::error_code read, size_t) { done = read; });
                         });
                       });
  io.run();
  if (!done || *done) return reply;
  reply.status = static_cast<int>(response.result_int());
  reply.body = response.body();
  for (const auto& field : response) reply.headers += std::string(field.name_string()) + ": " + std::string(field.value()) + "\n";
  return reply;
}

struct WebSocketClient::State {
  asio::io_context io;
  websocket::stream<beast::tcp_stream> ws{io};
  beast::flat_buffer buffer;
};

WebSocketClient::WebSocketClient() : state(std::make_unique<State>()) {}
WebSocketClient::~WebSocketClient() {
  beast::error_code ignored;
  beast::get_lowest_layer(state->ws).socket().close(ignored);
}

bool WebSocketClient::Open(int port, const std::string& target, std::string& error, const std::string& origin,
                           const std::string& host) {
  beast::error_code ec;
  beast::get_lowest_layer(state->ws).expires_after(std::chrono::seconds(10));
  beast::get_lowest_layer(state->ws).connect(
      tcp::endpoint(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)), ec);
  if (!ec) {
    state->ws.set_option(websocket::stream_base::decorator([origin](websocket::request_type& request) {
      if (!origin.empty()) request.set(http::field::origin, origin);
    }));
    state->ws.handshake(host + ":" + std::to_string(port), target, ec);
  }
  if (ec) error = ec.message();
  return !ec;
}

bool WebSocketClient::Send(const std::string& message, bool binary) {
  beast::error_code ec;
  beast::get_lowest_layer(state->ws).expires_after(std::chrono::seconds(10));
  state->ws.binary(binary);
  state->ws.write(asio::buffer(message), ec);
  return !ec;
}

bool WebSocketClient::Receive(std::string& message, double patienceSeconds) {
  std::optional<beast::error_code> done;
  beast::get_lowest_layer(state->ws).expires_after(Patience(patienceSeconds));
  state->buffer.clear();
  state->ws.async_read(state->buffer, [&](beast::error_code ec, size_t) { done = ec; });
  state->io.restart();
  state->io.run();
  if (!done || *done) return false;
  message = beast::buffers_to_string(state->buffer.data());
  return true;
}

}  // namespace testsupport
