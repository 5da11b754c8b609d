// Which relays a reload keeps, stops and starts. Pairs are matched by their
// values, not by section number: a pair that only moved to another section
// (after a Delete, say) is unchanged and keeps its connections.
#pragma once

#include <cstddef>
#include <vector>

#include "serve/pair_config.h"

namespace vx {

struct ReloadPlan {
  // (index into running, index into wanted) of each unchanged pair.
  std::vector<std::pair<std::size_t, std::size_t>> keep;
  std::vector<std::size_t> stop;   // indices into running
  std::vector<std::size_t> start;  // indices into wanted
};

ReloadPlan PlanReload(const std::vector<ServePair>& running, const std::vector<ServePair>& wanted);

}  // namespace vx
