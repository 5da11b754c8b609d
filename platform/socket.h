// Portable TCP socket calls. Each function mirrors one Windows Sockets call
// and reports failures the same way on every system: a return of -1
// (SOCKET_ERROR) or kInvalidSocket, with the Windows Sockets error code
// available from LastSocketError() on the calling thread.
#pragma once

#include <cstdint>
#include <string>

namespace vx::net {

#ifdef _WIN32
using Socket = std::uintptr_t;  // SOCKET
#else
using Socket = int;
#endif
inline const Socket kInvalidSocket = static_cast<Socket>(-1);
inline constexpr int kSocketError = -1;

// Windows Sockets error codes, reported on POSIX too.
enum SocketErrorCode : int {
  kErrInterrupted = 10004,      // WSAEINTR
  kErrBadHandle = 10009,        // WSAEBADF
  kErrAccess = 10013,           // WSAEACCES
  kErrFault = 10014,            // WSAEFAULT
  kErrInvalid = 10022,          // WSAEINVAL
  kErrTooManyFiles = 10024,     // WSAEMFILE
  kErrWouldBlock = 10035,       // WSAEWOULDBLOCK
  kErrInProgress = 10036,       // WSAEINPROGRESS
  kErrAlready = 10037,          // WSAEALREADY
  kErrNotSocket = 10038,        // WSAENOTSOCK
  kErrMessageSize = 10040,      // WSAEMSGSIZE
  kErrProtoNoSupport = 10043,   // WSAEPROTONOSUPPORT
  kErrOpNotSupported = 10045,   // WSAEOPNOTSUPP
  kErrFamilyNoSupport = 10047,  // WSAEAFNOSUPPORT
  kErrAddrInUse = 10048,        // WSAEADDRINUSE
  kErrAddrNotAvail = 10049,     // WSAEADDRNOTAVAIL
  kErrNetDown = 10050,          // WSAENETDOWN
  kErrNetUnreach = 10051,       // WSAENETUNREACH
  kErrNetReset = 10052,         // WSAENETRESET
  kErrConnAborted = 10053,      // WSAECONNABORTED
  kErrConnReset = 10054,        // WSAECONNRESET
  kErrNoBuffers = 10055,        // WSAENOBUFS
  kErrIsConnected = 10056,      // WSAEISCONN
  kErrNotConnected = 10057,     // WSAENOTCONN
  kErrShutdown = 10058,         // WSAESHUTDOWN
  kErrTimedOut = 10060,         // WSAETIMEDOUT
  kErrConnRefused = 10061,      // WSAECONNREFUSED
  kErrHostDown = 10064,         // WSAEHOSTDOWN
  kErrHostUnreach = 10065,      // WSAEHOSTUNREACH
  kErrSysNotReady = 10091,      // WSASYSNOTREADY
  kErrVerNotSupported = 10092,  // WSAVERNOTSUPPORTED
  kErrNotInitialised = 10093,   // WSANOTINITIALISED
};

// An IPv4 endpoint: the address in network byte order (as inet_addr gives it),
// the port in host byte order.
struct SocketAddress {
  std::uint32_t addr = 0;
  std::uint16_t port = 0;
};

inline constexpr std::uint32_t kInaddrAny = 0;
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// WSAStartup(2.2): returns 0 or the error code WSAStartup itself returned.
int Startup();
// WSACleanup.
void Cleanup();

// WSASocket(AF_INET, SOCK_STREAM, 0, ..., WSA_FLAG_OVERLAPPED): the listening socket.
Socket CreateListenSocket();
// socket(AF_INET, SOCK_STREAM, IPPROTO_TCP): an outbound socket.
Socket CreateStreamSocket();

// bind. On POSIX the socket first gets SO_REUSEADDR, so that a port whose
// connections sit in TIME_WAIT binds again as it does on Windows, while a live
// listener still holds the port; on Windows no option is set.
int Bind(Socket s, const SocketAddress& local);
int Listen(Socket s, int backlog);
// ioctlsocket(FIONBIO, 1).
int SetNonBlocking(Socket s);
// setsockopt(IPPROTO_TCP, TCP_NODELAY, 1): small writes leave at once rather
// than wait for the acknowledgement of earlier bytes.
int SetNoDelay(Socket s);
// Blocking connect (or non-blocking, if the socket is).
int Connect(Socket s, const SocketAddress& remote);
// accept with no address buffer.
Socket Accept(Socket listener);
// WSASend / WSARecv with one buffer: 0 and the byte count, or -1.
// Send never raises SIGPIPE.
int Send(Socket s, const void* data, std::uint32_t len, std::uint32_t* sent);
int Recv(Socket s, void* data, std::uint32_t len, std::uint32_t* received);
void Close(Socket s);

// WSAGetLastError: the code of the last failed call on this thread.
int LastSocketError();
// The Windows Sockets code for an error number of this system's socket calls
// (errno on POSIX; on Windows the code itself).
int SocketErrorFromSystem(int code);

// getpeername; false if it fails.
bool PeerAddress(Socket s, SocketAddress* peer);
// getsockname; false if it fails.
bool LocalAddress(Socket s, SocketAddress* local);

// inet_addr: dotted text (also the shortened and octal/hex forms) to an address
// in network byte order; kInaddrNone for text that does not parse.
std::uint32_t InetAddr(const char* text);
// inet_ntoa: an address in network byte order as dotted decimal.
std::string InetNtoa(std::uint32_t addr);

// htonl / ntohl.
std::uint32_t HostToNet32(std::uint32_t v);
std::uint32_t NetToHost32(std::uint32_t v);

// Owns one socket and closes it; move-only.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(Socket s) : m_socket(s) {}
  ~UniqueSocket() { Reset(); }
  UniqueSocket(UniqueSocket&& other) noexcept : m_socket(other.Release()) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other)
      Reset(other.Release());
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  Socket Get() const { return m_socket; }
  bool Valid() const { return m_socket != kInvalidSocket; }
  Socket Release() {
    Socket s = m_socket;
    m_socket = kInvalidSocket;
    return s;
  }
  void Reset(Socket s = kInvalidSocket) {
    if (m_socket != kInvalidSocket)
      Close(m_socket);
    m_socket = s;
  }

 private:
  Socket m_socket = kInvalidSocket;
};

}  // namespace vx::net
