// Who may ask the web server what: a request's target read (the path
// decoded, the token taken out of the query or the cookie), the token
// compared in constant time, and the host a Host header names. No socket
// here: the server and the fuzzer call it.
#pragma once

#include <string>
#include <string_view>

namespace tool::web {

// The cookie the remote page carries the token in.
constexpr const char* kTokenCookie = "tessarvander-token";

// What a request's target ("/path?query") and Cookie header ask: the path
// decoded, the query without the token, and the token given (in the query,
// else in the cookie). False for a target this server never serves: not a
// path, a broken escape, a NUL.
struct Target {
  std::string path, query, token;
  bool tokenInQuery = false;
};
bool ReadTarget(std::string_view target, std::string_view cookies, Target& read);

// A token for the URL: 128 random bits, as 32 hexadecimal digits.
std::string NewToken();
// The token given against the one asked for, in constant time.
bool SameToken(const std::string& given, const std::string& token);
// The host of a Host header ("127.0.0.1:8080", "[::1]:80", "localhost").
std::string HostOf(std::string_view header);

}  // namespace tool::web
