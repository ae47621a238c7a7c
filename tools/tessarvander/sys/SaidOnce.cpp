#include "sys/SaidOnce.h"

namespace tool {

bool SaidOnce::First(const std::string& given, bool& overflow) {
  overflow = false;
  const std::string kind = given.substr(0, 600);
  std::lock_guard<std::mutex> hold(mutex);
  if (told.count(kind)) return false;
  if (told.size() >= kinds) {
    overflow = !full;
    full = true;
    return false;
  }
  told.insert(kind);
  return true;
}

}  // namespace tool
