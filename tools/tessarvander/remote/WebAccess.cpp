#include "remote/WebAccess.h"

#include <openssl/crypto.h>

#include "sys/Digest.h"

namespace tool::web {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded; false for a broken escape or a NUL.
bool PercentDecoded(std::string_view text, std::string& decoded) {
  decoded.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return false;
    decoded += c;
  }
  return true;
}

// The value of `name` in "a=1&b=2" (as sent), and the rest without it.
std::string TakeParameter(std::string& query, const std::string& name) {
  std::string value, rest;
  size_t start = 0;
  while (start <= query.size()) {
    const size_t end = std::min(query.find('&', start), query.size());
    const std::string_view item(query.data() + start, end - start);
    if (item.substr(0, name.size() + 1) == name + "=") value = std::string(item.substr(name.size() + 1));
    else if (!item.empty()) rest += (rest.empty() ? "" : "&") + std::string(item);
    start = end + 1;
  }
  query = rest;
  return value;
}

std::string CookieValue(std::string_view cookies, const std::string& name) {
  const std::string wanted = name + "=";
  size_t start = 0;
  while (start < cookies.size()) {
    while (start < cookies.size() && cookies[start] == ' ') ++start;
    const size_t end = std::min(cookies.find(';', start), cookies.size());
    const std::string_view item = cookies.substr(start, end - start);
    if (item.substr(0, wanted.size()) == wanted) return std::string(item.substr(wanted.size()));
    start = end + 1;
  }
  return "";
}

}  // namespace

bool SameToken(const std::string& given, const std::string& token) {
  return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
}

// The host of a Host header ("127.0.0.1:8080", "[::1]:80", "localhost").
std::string HostOf(std::string_view header) {
  if (!header.empty() && header.front() == '[') {
    const size_t close = header.find(']');
    return close == std::string_view::npos ? "" : std::string(header.substr(1, close - 1));
  }
  const size_t colon = header.rfind(':');
  return std::string(colon == std::string_view::npos ? header : header.substr(0, colon));
}

bool ReadTarget(std::string_view target, std::string_view cookies, Target& read) {
  if (target.empty() || target.front() != '/') return false;
  const size_t question = target.find('?');
  if (!PercentDecoded(target.substr(0, question), read.path)) return false;
  read.query = question == std::string_view::npos ? "" : std::string(target.substr(question + 1));
  read.token = TakeParameter(read.query, "token");
  read.tokenInQuery = !read.token.empty();
  if (read.token.empty()) read.token = CookieValue(cookies, kTokenCookie);
  return true;
}

std::string NewToken() { return RandomHex(16); }

}  // namespace tool::web
