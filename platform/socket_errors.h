// SPDX-License-Identifier: MIT
// Socket error numbers. Callers see the Windows Sockets numbers on every
// system: the POSIX side maps errno through the one table below, and the
// Windows side checks the same table against the WSAE* constants at compile
// time, so the two can never drift apart.
#pragma once

namespace qelrpc::platform::sockerr {

// X(name, Windows Sockets number, errno name, WSAE name, the tool's text, arg),
// where arg is QELRPC_SOCKET_ERRORS' second argument, passed on as given
// (the status table passes its own row macro through it).
#define QELRPC_SOCKET_ERRORS(X, arg)                                                                                     \
    X(kInterrupted, 10004, EINTR, WSAEINTR, "interrupted system call", arg)                                              \
    X(kBadHandle, 10009, EBADF, WSAEBADF, "bad socket handle", arg)                                                      \
    X(kAccessDenied, 10013, EACCES, WSAEACCES, "permission denied", arg)                                                 \
    X(kFault, 10014, EFAULT, WSAEFAULT, "bad address", arg)                                                              \
    X(kInvalidArgument, 10022, EINVAL, WSAEINVAL, "invalid argument", arg)                                               \
    X(kTooManyOpen, 10024, EMFILE, WSAEMFILE, "too many open sockets", arg)                                              \
    X(kWouldBlock, 10035, EWOULDBLOCK, WSAEWOULDBLOCK, "the operation would block", arg)                                 \
    X(kInProgress, 10036, EINPROGRESS, WSAEINPROGRESS, "operation now in progress", arg)                                 \
    X(kAlready, 10037, EALREADY, WSAEALREADY, "operation already in progress", arg)                                      \
    X(kNotSocket, 10038, ENOTSOCK, WSAENOTSOCK, "not a socket", arg)                                                     \
    X(kDestinationRequired, 10039, EDESTADDRREQ, WSAEDESTADDRREQ, "destination address required", arg)                   \
    X(kMessageSize, 10040, EMSGSIZE, WSAEMSGSIZE, "message too long for the buffer", arg)                                \
    X(kProtocolType, 10041, EPROTOTYPE, WSAEPROTOTYPE, "wrong protocol type for the socket", arg)                        \
    X(kNoProtocolOption, 10042, ENOPROTOOPT, WSAENOPROTOOPT, "bad protocol option", arg)                                 \
    X(kProtocolNotSupported, 10043, EPROTONOSUPPORT, WSAEPROTONOSUPPORT, "protocol not supported", arg)                  \
    X(kSocketTypeNotSupported, 10044, ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT, "socket type not supported", arg)             \
    X(kOperationNotSupported, 10045, EOPNOTSUPP, WSAEOPNOTSUPP, "operation not supported", arg)                          \
    X(kProtocolFamilyNotSupported, 10046, EPFNOSUPPORT, WSAEPFNOSUPPORT, "protocol family not supported", arg)           \
    X(kAddressFamilyNotSupported, 10047, EAFNOSUPPORT, WSAEAFNOSUPPORT, "address family not supported", arg)             \
    X(kAddressInUse, 10048, EADDRINUSE, WSAEADDRINUSE, "address already in use", arg)                                    \
    X(kAddressNotAvailable, 10049, EADDRNOTAVAIL, WSAEADDRNOTAVAIL, "cannot assign the requested address", arg)          \
    X(kNetworkDown, 10050, ENETDOWN, WSAENETDOWN, "network is down", arg)                                                \
    X(kNetworkUnreachable, 10051, ENETUNREACH, WSAENETUNREACH, "network is unreachable", arg)                            \
    X(kNetworkReset, 10052, ENETRESET, WSAENETRESET, "network dropped the connection on reset", arg)                     \
    X(kConnectionAborted, 10053, ECONNABORTED, WSAECONNABORTED, "connection aborted", arg)                               \
    X(kConnectionReset, 10054, ECONNRESET, WSAECONNRESET, "connection reset by the peer", arg)                           \
    X(kNoBuffers, 10055, ENOBUFS, WSAENOBUFS, "no buffer space available", arg)                                          \
    X(kAlreadyConnected, 10056, EISCONN, WSAEISCONN, "socket is already connected", arg)                                 \
    X(kNotConnected, 10057, ENOTCONN, WSAENOTCONN, "socket is not connected", arg)                                       \
    X(kShutDown, 10058, ESHUTDOWN, WSAESHUTDOWN, "socket has been shut down", arg)                                       \
    X(kTimedOut, 10060, ETIMEDOUT, WSAETIMEDOUT, "timed out: the connect or the send got no answer in time", arg)        \
    X(kConnectionRefused, 10061, ECONNREFUSED, WSAECONNREFUSED, "connection refused: nothing listens on that port", arg) \
    X(kHostDown, 10064, EHOSTDOWN, WSAEHOSTDOWN, "host is down", arg)                                                    \
    X(kHostUnreachable, 10065, EHOSTUNREACH, WSAEHOSTUNREACH, "no route to host", arg)

#define QELRPC_SOCKET_ERROR_CONSTANT(name, number, posixName, winName, ...) constexpr int name = number;
QELRPC_SOCKET_ERRORS(QELRPC_SOCKET_ERROR_CONSTANT, )
#undef QELRPC_SOCKET_ERROR_CONSTANT

// A system error that has no counterpart in the table (WSASYSCALLFAILURE).
constexpr int kSystemCallFailure = 10107;

// The peer closed the connection in good order before the message was
// complete (WSAEDISCON). The socket layer records no error for such a close,
// so the code is given by whoever notices it.
constexpr int kDisconnected = 10101;

}  // namespace qelrpc::platform::sockerr
