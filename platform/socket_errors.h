// Socket error numbers. Callers see the Windows Sockets numbers on every
// system: the POSIX side maps errno through the one table below, and the
// Windows side checks the same table against the WSAE* constants at compile
// time, so the two can never drift apart.
#pragma once

namespace qelrpc::platform::sockerr {

// X(name, Windows Sockets number, errno name, WSAE name)
#define QELRPC_SOCKET_ERRORS(X)                                                  \
    X(kInterrupted, 10004, EINTR, WSAEINTR)                                      \
    X(kBadHandle, 10009, EBADF, WSAEBADF)                                        \
    X(kAccessDenied, 10013, EACCES, WSAEACCES)                                   \
    X(kFault, 10014, EFAULT, WSAEFAULT)                                          \
    X(kInvalidArgument, 10022, EINVAL, WSAEINVAL)                                \
    X(kTooManyOpen, 10024, EMFILE, WSAEMFILE)                                    \
    X(kWouldBlock, 10035, EWOULDBLOCK, WSAEWOULDBLOCK)                           \
    X(kInProgress, 10036, EINPROGRESS, WSAEINPROGRESS)                           \
    X(kAlready, 10037, EALREADY, WSAEALREADY)                                    \
    X(kNotSocket, 10038, ENOTSOCK, WSAENOTSOCK)                                  \
    X(kDestinationRequired, 10039, EDESTADDRREQ, WSAEDESTADDRREQ)                \
    X(kMessageSize, 10040, EMSGSIZE, WSAEMSGSIZE)                                \
    X(kProtocolType, 10041, EPROTOTYPE, WSAEPROTOTYPE)                           \
    X(kNoProtocolOption, 10042, ENOPROTOOPT, WSAENOPROTOOPT)                     \
    X(kProtocolNotSupported, 10043, EPROTONOSUPPORT, WSAEPROTONOSUPPORT)         \
    X(kSocketTypeNotSupported, 10044, ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT)       \
    X(kOperationNotSupported, 10045, EOPNOTSUPP, WSAEOPNOTSUPP)                  \
    X(kProtocolFamilyNotSupported, 10046, EPFNOSUPPORT, WSAEPFNOSUPPORT)         \
    X(kAddressFamilyNotSupported, 10047, EAFNOSUPPORT, WSAEAFNOSUPPORT)          \
    X(kAddressInUse, 10048, EADDRINUSE, WSAEADDRINUSE)                           \
    X(kAddressNotAvailable, 10049, EADDRNOTAVAIL, WSAEADDRNOTAVAIL)              \
    X(kNetworkDown, 10050, ENETDOWN, WSAENETDOWN)                                \
    X(kNetworkUnreachable, 10051, ENETUNREACH, WSAENETUNREACH)                   \
    X(kNetworkReset, 10052, ENETRESET, WSAENETRESET)                             \
    X(kConnectionAborted, 10053, ECONNABORTED, WSAECONNABORTED)                  \
    X(kConnectionReset, 10054, ECONNRESET, WSAECONNRESET)                        \
    X(kNoBuffers, 10055, ENOBUFS, WSAENOBUFS)                                    \
    X(kAlreadyConnected, 10056, EISCONN, WSAEISCONN)                             \
    X(kNotConnected, 10057, ENOTCONN, WSAENOTCONN)                               \
    X(kShutDown, 10058, ESHUTDOWN, WSAESHUTDOWN)                                 \
    X(kTimedOut, 10060, ETIMEDOUT, WSAETIMEDOUT)                                 \
    X(kConnectionRefused, 10061, ECONNREFUSED, WSAECONNREFUSED)                  \
    X(kHostDown, 10064, EHOSTDOWN, WSAEHOSTDOWN)                                 \
    X(kHostUnreachable, 10065, EHOSTUNREACH, WSAEHOSTUNREACH)

#define QELRPC_SOCKET_ERROR_CONSTANT(name, number, posixName, winName) constexpr int name = number;
QELRPC_SOCKET_ERRORS(QELRPC_SOCKET_ERROR_CONSTANT)
#undef QELRPC_SOCKET_ERROR_CONSTANT

// A system error that has no counterpart in the table (WSASYSCALLFAILURE).
constexpr int kSystemCallFailure = 10107;

// The peer closed the connection in good order before the message was
// complete (WSAEDISCON). The socket layer records no error for such a close,
// so the code is given by whoever notices it.
constexpr int kDisconnected = 10101;

// The lowest Windows Sockets error number.
constexpr int kBase = 10000;

}  // namespace qelrpc::platform::sockerr
