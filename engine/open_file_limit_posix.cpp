#include <sys/resource.h>

#include "engine/open_file_limit.h"

namespace vx::engine {

OpenFileLimit RaiseOpenFileLimit() {
  OpenFileLimit result;
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) != 0)
    return result;
  result.before = result.now = static_cast<long>(lim.rlim_cur);
  if (lim.rlim_cur == lim.rlim_max)
    return result;
  rlimit raised = lim;
  raised.rlim_cur = lim.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
    result.now = static_cast<long>(raised.rlim_cur);
  return result;
}

}  // namespace vx::engine
