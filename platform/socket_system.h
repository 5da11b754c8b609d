// Inside the platform layer: the per-system socket primitives behind the
// public calls of socket.h (WaitForSockets' is declared in socket_set.h). The public calls run the
// fault check once and then hand over to these; each reports a failure through SetLastSocketError
// as its public call documents.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace vx::net {

namespace sys {

int Startup();
void Cleanup();
Socket NewListenSocket();
Socket NewStreamSocket();
int Bind(Socket s, const SocketAddress& local);
int Listen(Socket s, int backlog);
int SetNonBlocking(Socket s);
int SetNoDelay(Socket s);
int Connect(Socket s, const SocketAddress& remote);
Socket Accept(Socket listener);
int Send(Socket s, const void* data, std::uint32_t len, std::uint32_t* sent);
int Recv(Socket s, void* data, std::uint32_t len, std::uint32_t* received);
// getpeername (peer) or getsockname; false if it fails or is not IPv4.
bool NameOf(Socket s, bool peer, SocketAddress* out);

}  // namespace sys
}  // namespace vx::net
