// Inside the platform layer: sets the code LastSocketError() reports.
#pragma once

namespace vx::net {

void SetLastSocketError(int code);

}  // namespace vx::net
