// The analysis counts hops, beats and windows with signed numbers, which it
// subtracts and compares with negatives; containers take size_t. The one
// conversion between them is here.
#pragma once

#include <cstddef>

namespace tool {

template <class Container>
decltype(auto) At(Container& container, long index) {
  return container[static_cast<size_t>(index)];
}

template <class Container>
long Count(const Container& container) {
  return static_cast<long>(container.size());
}

}  // namespace tool
