#include "serve/reload_plan.h"

namespace vx {

ReloadPlan PlanReload(const std::vector<ServePair>& running, const std::vector<ServePair>& wanted) {
  ReloadPlan plan;
  std::vector<bool> matched(running.size(), false);
  for (std::size_t w = 0; w < wanted.size(); ++w) {
    bool found = false;
    for (std::size_t r = 0; r < running.size(); ++r) {
      if (!matched[r] && running[r].SameValues(wanted[w])) {
        matched[r] = true;
        plan.keep.emplace_back(r, w);
        found = true;
        break;
      }
    }
    if (!found)
      plan.start.push_back(w);
  }
  for (std::size_t r = 0; r < running.size(); ++r) {
    if (!matched[r])
      plan.stop.push_back(r);
  }
  return plan;
}

}  // namespace vx
