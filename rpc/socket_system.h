// The system's socket interface, for the socket code that is the same on
// every platform: Winsock on Windows, the BSD socket calls elsewhere. Only
// the socket files include it.
#pragma once

#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace rpc {

// Makes the system's sockets usable in this process (once; each platform's
// socket file says how); false when they cannot be.
bool startSockets();

// The stream addresses of host and port, as getaddrinfo() gives them with
// these flags; the caller frees them with freeaddrinfo().
bool resolveTcp(const std::string& host, uint16_t port, int flags, addrinfo** result);

// The port of a socket address, in host order.
uint16_t portOf(const sockaddr_storage& address);

}  // namespace rpc
