#include "settings.h"

#include <algorithm>

namespace tav {

std::vector<uint32_t> fallback_orders(uint32_t order) {
  std::vector<uint32_t> orders{order};
  auto add = [&](int64_t o) {
    if (o >= 0 && o <= MAX_ORDER && std::find(orders.begin(), orders.end(), o) == orders.end())
      orders.push_back(static_cast<uint32_t>(o));
  };
  for (int64_t step = 1; step <= 2; ++step) {
    add(int64_t{order} - step);
    add(int64_t{order} + step);
  }
  add(0);
  return orders;
}

}  // namespace tav
