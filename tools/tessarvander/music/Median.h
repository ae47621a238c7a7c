// The middle of a set of values, as the analysis reads a typical period,
// spacing or level: the upper of the two middles when the count is even.
#pragma once

#include <algorithm>
#include <vector>

namespace tool {

// `values` must not be empty; they are taken by copy and partly reordered.
template <class Value>
Value Median(std::vector<Value> values) {
  const auto middle = values.begin() + static_cast<long>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace tool
