#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <string>
#include <vector>

#include "decimal/ci_report.hpp"
#include "decimal/display.hpp"

namespace decimal {

// Where a directory stands in the order the page and the step summary show
// the directories in: worst first (trouble, fail, pass), then by name as
// shown, then in the order given.
struct report_place {
  int rank = 2;
  std::string name;
  std::size_t given = 0;
  // NOLINTNEXTLINE(modernize-use-nullptr): the 0 is the defaulted comparison's own
  auto operator<=>(const report_place&) const = default;
};

inline report_place place_of(const directory_report& report, std::size_t given) {
  const int rank = report.outcome == run_outcome::trouble ? 0
                   : report.outcome == run_outcome::fail  ? 1
                                                          : 2;
  return {rank, shown_name(report.directory), given};
}

// The first `limit` items by their places, of however many are offered,
// in bounded memory.
template <typename Item>
class first_in_order {
 public:
  explicit first_in_order(std::size_t limit) : limit_(limit) {}

  // Whether an item at `place` would be kept: make it only then.
  bool wants(const report_place& place) const {
    return limit_ != 0 && (kept_.size() < limit_ || place < kept_.front().place);
  }

  void offer(report_place place, Item item) {
    if (!wants(place)) return;
    kept_.push_back({std::move(place), std::move(item)});
    std::push_heap(kept_.begin(), kept_.end(), later);
    if (kept_.size() > limit_) {
      std::pop_heap(kept_.begin(), kept_.end(), later);
      kept_.pop_back();
    }
  }

  struct placed {
    report_place place;
    Item item;
  };

  // Those kept, in order.
  std::vector<const placed*> in_order() const {
    std::vector<const placed*> order;
    order.reserve(kept_.size());
    for (const placed& p : kept_) order.push_back(&p);
    std::sort(order.begin(), order.end(),
              [](const placed* a, const placed* b) { return a->place < b->place; });
    return order;
  }

 private:
  static bool later(const placed& a, const placed& b) { return a.place < b.place; }

  std::size_t limit_;
  std::vector<placed> kept_;  // a heap, the last in order on top
};

}  // namespace decimal
