#include <windows.h>

#include "platform/fault_injection.h"
#include "platform/memory.h"

namespace vx {

void* AllocZeroed(std::size_t size) {
  if (fault::Armed() && fault::Check(fault::Call::kAlloc) != 0)
    return nullptr;
  return GlobalAlloc(GPTR, size);  // fixed, zero-filled
}

void FreeBlock(void* block) {
  if (block != nullptr)
    GlobalFree(block);
}

}  // namespace vx
