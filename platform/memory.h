// Fixed, zero-filled memory blocks (GlobalAlloc(GMEM_ZEROINIT) / GlobalFree).
#pragma once

#include <cstddef>

namespace vx {

void* AllocZeroed(std::size_t size);
void FreeBlock(void* block);

}  // namespace vx
