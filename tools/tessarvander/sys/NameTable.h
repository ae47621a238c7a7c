// A fixed table of values and the names the command line, files and
// messages use for them, looked up both ways.
#pragma once

#include <cstddef>
#include <string>

namespace tool {

template <class T>
struct Named {
  T value;
  const char* name;
};

// The value's name, or `unknown` when the table lacks it.
template <class T, size_t N>
const char* NameOf(const Named<T> (&table)[N], T value, const char* unknown = "?") {
  for (const Named<T>& entry : table)
    if (entry.value == value) return entry.name;
  return unknown;
}

// The value named `name`; false when no entry has that name.
template <class T, size_t N>
bool ValueNamed(const Named<T> (&table)[N], const std::string& name, T& value) {
  for (const Named<T>& entry : table)
    if (name == entry.name) {
      value = entry.value;
      return true;
    }
  return false;
}

}  // namespace tool
