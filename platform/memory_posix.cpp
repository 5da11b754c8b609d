#include <cstdlib>

#include "platform/fault_injection.h"
#include "platform/memory.h"

namespace vx {

void* AllocZeroed(std::size_t size) {
  if (fault::Armed() && fault::Check(fault::Call::kAlloc) != 0)
    return nullptr;
  return std::calloc(1, size);
}

void FreeBlock(void* block) {
  std::free(block);
}

}  // namespace vx
