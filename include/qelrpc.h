/*
 * qelrpc — ONC RPC version 2 (RFC 5531) with XDR (RFC 4506).
 *
 * The exported C interface. The records below are laid out field by field as
 * callers compiled against them; never reorder or resize a field. Every
 * function reports failure by its return value only; nothing is logged and no
 * exception leaves the library.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef QELRPC_H
#define QELRPC_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QELRPC_BUILDING)
#    define QELRPC_API __declspec(dllexport)
#  elif defined(QELRPC_STATIC)
#    define QELRPC_API
#  else
#    define QELRPC_API __declspec(dllimport)
#  endif
#else
#  define QELRPC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Basic types
 * ------------------------------------------------------------------------ */

/* A socket handle: a SOCKET on Windows, a file descriptor on POSIX systems,
 * widened to the size of a pointer so the record is the same on both. */
typedef uintptr_t RpcSocket;
#define RPC_INVALID_SOCKET ((RpcSocket)~(uintptr_t)0)

/* A window handle (HWND on Windows); only passed through. */
typedef void* RpcWindow;

/* IPv4 socket address, laid out as the socket layer's sockaddr_in:
 * family, port (network order), address (network order), 8 zero bytes. */
typedef struct RpcSockAddrIn {
    uint16_t family;
    uint16_t port;
    uint32_t addr;
    uint8_t zero[8];
} RpcSockAddrIn;

/* ------------------------------------------------------------------------
 * Message buffer
 *
 * One fixed block of RPC_MBUF_SIZE bytes with three windows onto it. A window
 * is the stream of every mbuf* and xdr_* routine. When writing, count is the
 * bytes written so far and limit the bytes the window may hold; when reading,
 * count is the bytes still unread.
 * ------------------------------------------------------------------------ */

#define RPC_MBUF_SIZE 65536u

typedef struct MbufCursor {
    uint32_t count;
    uint32_t limit;
    uint8_t* pos;
} MbufCursor;

typedef struct Mbuf {
    MbufCursor block;  /* the whole block; block.pos is the block's start */
    MbufCursor header; /* the RPC header at the start of the block */
    MbufCursor data;   /* the arguments or results behind the header */
} Mbuf;

/* ------------------------------------------------------------------------
 * Credentials
 * ------------------------------------------------------------------------ */

#define RPC_AUTH_NULL 0u
#define RPC_AUTH_UNIX 1u
#define RPC_AUTH_DES 3u
#define RPC_RPCSEC_GSS 6u

typedef struct RpcAuth {
    uint32_t flavor;     /* RPC_AUTH_NULL, RPC_AUTH_UNIX, RPC_AUTH_DES or RPC_RPCSEC_GSS */
    uint32_t credLength; /* credential body length on the wire, padded */
    void* body;          /* the flavor's own record, owned; null for AUTH_NULL */
    uint32_t verfFlavor; /* flavor of the verifier the call carries */
    uint32_t verfLength; /* verifier body length on the wire */
} RpcAuth;

#define RPC_AUTHUNIX_MACHINE_MAX 512

/* The AUTH_UNIX credential (RFC 5531 appendix A), always with one group. */
typedef struct AuthUnixCred {
    uint32_t stamp; /* creation time, seconds since 1970-01-01 UTC */
    char machineName[RPC_AUTHUNIX_MACHINE_MAX + 1];
    uint32_t uid;
    uint32_t gid;
    uint32_t gidCount; /* always 1 */
    uint32_t gids[1];  /* equal to gid */
} AuthUnixCred;

/* ------------------------------------------------------------------------
 * Operation record: one per call, storage owned by the caller.
 * Ports are in host byte order and usable when neither 0 nor 0xFFFF;
 * hostAddr is in network byte order and resolved when neither 0 nor
 * 0xFFFFFFFF.
 * ------------------------------------------------------------------------ */

#define RPC_OP_FLAG_ASYNC 0x1u
#define RPC_PROTOCOL_UDP_ONLY 17u
#define RPC_TIME_OFFSET_UNKNOWN 2147483647

typedef struct RpcOperation {
    uint32_t prog;
    uint32_t vers;
    uint32_t proc;
    uint16_t protocol; /* 17: only UDP may be used; 0 otherwise */
    uint16_t tcpPort;
    uint16_t udpPort;
    const char* hostName; /* not owned */
    uint32_t hostAddr;
    Mbuf request;
    Mbuf reply;
    RpcAuth* auth; /* owned; null until a credential is attached */
    RpcWindow asyncWindow;
    int* cancelFlag; /* caller-owned; nonzero abandons a pending connect */
    uint32_t flags;  /* RPC_OP_FLAG_ASYNC */
    uint32_t rejectStat;
    uint32_t authStat;
    uint32_t acceptStat;
    RpcSocket sock; /* broadcast socket or listening socket only */
    RpcSockAddrIn localAddr;
    uint32_t userData;
    int32_t timeOffset; /* RPC_TIME_OFFSET_UNKNOWN until measured */
} RpcOperation;

/* ------------------------------------------------------------------------
 * Message buffer routines. 0 success; -1 null stream or no block; -2 no room
 * (writers keep 4 bytes in reserve) or too few bytes left (readers). A
 * refused call changes nothing.
 * ------------------------------------------------------------------------ */

QELRPC_API int mbufAddLong(MbufCursor* stream, int32_t value);
QELRPC_API int mbufGetLong(MbufCursor* stream, uint32_t* value);
QELRPC_API int mbufAddStringEx(MbufCursor* stream, const char* bytes, uint32_t length);
QELRPC_API int mbufAddString(MbufCursor* stream, const char* text);
/* Returns L + 1 (nothing consumed) when the string of length L does not fit
 * destSize bytes with its terminating NUL. */
QELRPC_API int mbufGetString(MbufCursor* stream, char* dest, uint32_t destSize);
/* Releases the block and clears the whole record. Never pass an Mbuf that
 * borrows another's block (CopyRpcBuffer). */
QELRPC_API int mbufFreeMbuf(Mbuf* m);

/* ------------------------------------------------------------------------
 * Operation lifecycle
 * ------------------------------------------------------------------------ */

/* 0, or 8 (no memory). Allocates and zero-fills a 65,536-byte block. */
QELRPC_API int rpcAllocateBuffer(Mbuf* m);
/* 0, 8 (no memory; no block held afterwards) or 1208 (null record). Keeps
 * every field the caller set except the two blocks, flags, asyncWindow,
 * cancelFlag and timeOffset. */
QELRPC_API int rpcInitOperation(RpcOperation* op);
/* Clears the record, stores hostName (if not null) and hostAddr (unless
 * 0xFFFFFFFF), then rpcInitOperation. */
QELRPC_API int rpcInitOperationEx(RpcOperation* op, const char* hostName, uint32_t hostAddr);
/* Releases both blocks and the credential. Does not close sock. */
QELRPC_API void rpcCloseOperation(RpcOperation* op);
QELRPC_API void InitRpcHeaderBuffer(Mbuf* m);
QELRPC_API void InitDataBuffer(Mbuf* m);
/* dst's block window borrows src's block; nothing else changes. */
QELRPC_API void CopyRpcBuffer(const Mbuf* src, Mbuf* dst);

/* ------------------------------------------------------------------------
 * Call header and basic credentials
 * ------------------------------------------------------------------------ */

/* 1 attached, 0 failed (null operation or no memory; auth is null then). */
QELRPC_API int rpcCreateAuthNull(RpcOperation* op);
/* machineName null: this host's name. Names are cut to 512 characters. */
QELRPC_API int rpcCreateAuthUnix(RpcOperation* op, const char* machineName, uint32_t uid,
                                 uint32_t gid);
/* Writes the call header with a fresh transaction id into op->request.
 * 0; -1 null operation; 87 unknown credential flavor; 1208 no credential
 * attached; a flavor writer's own code for AUTH_DES and RPCSEC_GSS. */
QELRPC_API int rpcPrepareRPCHeader(RpcOperation* op, uint32_t proc);
/* Sets prog, vers, udpPort = port, tcpPort = 0, protocol = 17, then
 * rpcPrepareRPCHeader. */
QELRPC_API int rpcPrepareRPCBroadcastHeader(RpcOperation* op, uint32_t prog, uint32_t vers,
                                            uint32_t proc, uint16_t port);

/* ------------------------------------------------------------------------
 * Server side: incoming calls and replies over TCP
 * ------------------------------------------------------------------------ */

/* The caller's call handler: (per-call operation, connection, xid). Returns
 * 0 stop serving, 1 read the next call of this connection, 2 close this
 * connection and wait for the next. */
typedef int (*RpcCallHandler)(RpcOperation* op, RpcSocket connection, uint32_t xid);

/* Checks the CALL header of the call in op->request and opens its data
 * window on the arguments; *xid is stored before any check. 0; -1 null
 * argument; -2 not a CALL; -3 RPC version not 2; -4 the call ends before
 * its fixed words, credential or verifier. */
QELRPC_API int ProcessRPCCall(RpcOperation* op, uint32_t* xid);
/* Writes an accepted-reply header (AUTH_NULL verifier) into op->reply.
 * versions (lowest, highest) is read only for accept status 2. 0; -1 null
 * operation or no reply block; -2 status 2 without versions. */
QELRPC_API int rpcCreateReplyHeader(RpcOperation* op, uint32_t xid, uint32_t acceptStatus,
                                    const uint32_t* versions);
/* Sends header and results of op->reply as one record on the connection.
 * 0, or -1 (null operation, nothing to send, or the send failed or stalled
 * beyond 20 seconds; part of the reply may have gone out). */
QELRPC_API int ReplyRPC(RpcOperation* op, RpcSocket connection);
/* Clears the operation and opens a listening TCP endpoint on the host's
 * primary address and `port` (0: the system chooses; localAddr then holds
 * the address and port bound, in network order). 0; -1 null operation; -2 no
 * socket; -3 the host's address cannot be had; -4 bind; -5 getsockname;
 * -6 listen. After -3 to -6 the socket is in op->sock for the caller to
 * close. */
QELRPC_API int rpcInitServerOperation(RpcOperation* op, uint16_t port);
/* The accept loop: one connection and one call at a time, each call in a
 * fresh operation handed to the handler (with op->userData copied in).
 * Calls that cannot be read (closed, stalled beyond 20 seconds, longer than
 * the 65,536-byte block, or a malformed header) end their connection and
 * never reach the handler; a call of another RPC version is answered
 * RPC_MISMATCH. Returns 0 when a handler answered 0; -1 null argument;
 * -5 accept failed. The listening socket is never closed here. */
QELRPC_API int rpcAcceptIncoming(RpcOperation* listening, RpcCallHandler handler);

#ifdef __cplusplus
}
#endif

#endif /* QELRPC_H */
