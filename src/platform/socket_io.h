#pragma once
// Socket operations in the shape of Windows Sockets 2. Results that are a uint32_t are 0 on
// success and otherwise the error in Windows numbering (also left as the system error).
#include <cstdint>

#include "platform/overlapped.h"
#include "platform/socket_types.h"

namespace qolv::platform {

// Process-wide start-up and clean-up of the socket library (WSAStartup/WSACleanup on Windows;
// on Linux start-up raises the open-file limit to its hard limit so that many sockets fit).
bool StartSocketLibrary();
void StopSocketLibrary();

// A TCP stream socket of the family that supports overlapped operations, non-blocking from the
// start on both targets (so is every accepted socket); kInvalidSocket with the system error set
// on failure.
SocketHandle CreateStreamSocket(uint16_t family);

// Closes a socket (kInvalidSocket is ignored). Its outstanding operations complete with 995.
// Later calls with the handle fail with 10038: on Linux always, on Windows until the system
// gives the value to a new socket.
void CloseSocket(SocketHandle socket);
// how: 0 receive, 1 send, 2 both. Returns 0 or the error.
uint32_t ShutdownSocket(SocketHandle socket, int how);
// Cancels every outstanding operation of the socket (they complete with 995).
void CancelSocketIo(SocketHandle socket);

// Addresses.
uint16_t AddressFamily(const SockAddr& address);  // kFamilyInet, kFamilyInet6 or 0
uint16_t AddressPort(const SockAddr& address);    // host byte order
uint32_t AddressLength(uint16_t family);          // 16 for IPv4, 28 for IPv6, else 0
// Parses an address text of the given family into address: "a.b.c.d" or "a.b.c.d:port";
// "v6", "v6%scope", "[v6%scope]" or "[v6%scope]:port". A port in the text is kept, otherwise
// the port is 0. 0 or the error (10022 for a text that is no address of the family).
uint32_t TextToAddress(const char* text, uint16_t family, SockAddr& address);
// Sets the port of an address (host byte order in, network byte order stored).
void SetAddressPort(SockAddr& address, uint16_t port);
// Writes the system's text of an address in the Windows form: "a.b.c.d:port",
// "[v6%scope]:port", or the bare address when the port is 0. capacity and length count
// characters including the terminating zero; on success length is the text's length + 1.
// Fails (false, 10014) when the buffer is too small; length then holds the size needed.
bool AddressToText(const SockAddr& address, char* text, uint32_t capacity, uint32_t& length);
// getsockname; 0 or the error.
uint32_t LocalAddress(SocketHandle socket, SockAddr& address);

// Listen socket set-up, 0 or the error each.
uint32_t BindSocket(SocketHandle socket, const SockAddr& address);
uint32_t ListenSocket(SocketHandle socket, int backlog);
uint32_t SetKeepAlive(SocketHandle socket, bool on, uint32_t timeMs, uint32_t intervalMs);
// The Windows address options; on Linux they map to SO_REUSEADDR/SO_REUSEPORT with the same meaning.
uint32_t SetExclusiveAddressUse(SocketHandle socket, bool on);
uint32_t SetReuseAddress(SocketHandle socket, bool on);
uint32_t SetNoDelay(SocketHandle socket, bool on);
uint32_t SetNonBlocking(SocketHandle socket);
uint32_t SetLingerAbort(SocketHandle socket);  // SO_LINGER {on, 0}: the close resets
// SO_SNDBUF, or 0 when it cannot be read.
int32_t SendBufferSize(SocketHandle socket);

// The accept extension functions of a listen socket (AcceptEx and GetAcceptExSockaddrs on
// Windows). Looked up at each start; null members when the lookup failed.
struct AcceptFunctions {
  void* accept = nullptr;
  void* addresses = nullptr;
};
AcceptFunctions LookupAcceptFunctions(SocketHandle listenSocket);

// Bytes of the address area an accept needs for one family: (address size + 16) * 2.
uint32_t AcceptAddressAreaSize(uint16_t family);

// Starts an accept on the listen socket. *acceptSlot receives the accepted connection's socket
// (on Windows a socket created here beforehand, on Linux the one the kernel hands back; it is
// set before the completion is delivered). The local and remote addresses are left in
// addressArea (AcceptAddressAreaSize bytes), to be read with ReadAcceptAddresses. After a failed
// completion the caller closes *acceptSlot (on Linux it is then kInvalidSocket).
// 0: started, a completion follows. Otherwise the error, and no completion follows.
uint32_t StartAccept(const AcceptFunctions& functions, SocketHandle listenSocket, uint16_t family,
                     Overlapped* overlapped, char* addressArea, SocketHandle* acceptSlot);
void ReadAcceptAddresses(const AcceptFunctions& functions, const char* addressArea, uint16_t family,
                         SockAddr& local, SockAddr& remote);
// SO_UPDATE_ACCEPT_CONTEXT on Windows; nothing to do on Linux. 0 or the error.
uint32_t UpdateAcceptContext(SocketHandle accepted, SocketHandle listenSocket);

// The three Start functions need a socket associated with a completion port.
// Starts a receive of up to length (> 0) bytes into buffer.
// 0: started (or already finished), a completion follows. Otherwise the error, no completion.
uint32_t StartReceive(SocketHandle socket, char* buffer, uint32_t length, Overlapped* overlapped);
// Starts a send of length bytes from buffer. 0: finished at once (its completion still
// follows). 997: pending, a completion follows. Otherwise the error, no completion.
uint32_t StartSend(SocketHandle socket, const char* buffer, uint32_t length, Overlapped* overlapped);
// A receive without an overlapped record that never waits. 0 with *received set (0 means the
// peer closed), or the error (10035 when nothing is waiting).
uint32_t ReceiveNow(SocketHandle socket, char* buffer, uint32_t length, uint32_t* received);

// Non-blocking calls for a socket that is not associated with a completion port (a client that
// waits for readiness itself, see readiness_poller.h).
// Starts a connect: 0 when connected at once, 10035 while it is under way (the socket turns
// writable when it has finished; ConnectOutcome then tells how), or the error.
uint32_t BeginConnect(SocketHandle socket, const SockAddr& address);
// The outcome of a connect that has finished: 0 when connected, otherwise its error.
uint32_t ConnectOutcome(SocketHandle socket);
// A send that never waits: 0 with *sent set (perhaps fewer bytes than length), 10035 when the
// socket has no room, or the error.
uint32_t SendNow(SocketHandle socket, const char* data, uint32_t length, uint32_t* sent);

// The real outcome of a completed operation: 0 with *bytes set, or its socket error. Windows
// asks the socket (under Wine always 10038 once it is closed); Linux reads the record.
uint32_t OverlappedResult(SocketHandle socket, Overlapped* overlapped, uint32_t* bytes);

}  // namespace qolv::platform
