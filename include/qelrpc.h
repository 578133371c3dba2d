/* SPDX-License-Identifier: MIT */
/*
 * qelrpc — ONC RPC version 2 (RFC 5531) with XDR (RFC 4506).
 *
 * The exported C interface. The records below are laid out field by field as
 * callers compiled against them; never reorder or resize a field. Every
 * function reports failure by its return value only; nothing is logged and no
 * exception leaves the library.
 *
 * This header compiles as C11 and as C++. It cannot be included in the same
 * translation unit as <rpc/rpc.h> (or <rpc/xdr.h>): the XDR routines here
 * carry the published names (xdr_int, xdr_string, ...) with this library's
 * types (MbufCursor, XdrOp), so the two declarations conflict. A program that
 * uses both libraries keeps them in separate source files; at run time the
 * shared library binds its own names first (-Bsymbolic).
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
/* Extension (see "Extensions" at the end): the operation keeps its client
 * connection from call to call; set and cleared by rpcSetKeepConnection. */
#define RPC_OP_FLAG_KEEP_CONNECTION 0x2u
/* Extension: new client sockets are bound to a reserved source port (below
 * 1024); set and cleared by rpcSetReservedPort. */
#define RPC_OP_FLAG_RESERVED_PORT 0x4u
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
    uint32_t flags;  /* RPC_OP_FLAG_ASYNC, RPC_OP_FLAG_KEEP_CONNECTION, RPC_OP_FLAG_RESERVED_PORT */
    uint32_t rejectStat;
    uint32_t authStat;
    uint32_t acceptStat;
    /* Broadcast socket or listening socket; with RPC_OP_FLAG_KEEP_CONNECTION
     * the kept client socket (owned by the operation) or RPC_INVALID_SOCKET. */
    RpcSocket sock;
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

/* ========================================================================
 * XDR (RFC 4506) routines and the RPC message records (RFC 5531)
 *
 * Every routine has the shape (stream, op, object...) and returns 1 for
 * success and 0 for failure. The stream is a message-buffer window; the
 * direction is the op argument. In free mode the stream is never looked at
 * and may be null.
 * ======================================================================== */

typedef int32_t XdrOp;
#define XDR_OP_ENCODE 0
#define XDR_OP_DECODE 1
#define XDR_OP_FREE 2

/* An element or object routine for xdr_array, xdr_reference, xdr_pointer.
 * Every three-argument xdr_* routine has this shape (cast it to XdrProc). */
typedef int (*XdrProc)(MbufCursor* stream, XdrOp op, void* object);

/* Integers: one big-endian word each. xdr_int, xdr_u_int and xdr_bool are
 * one routine; xdr_bool passes the word through unchanged. xdr_u_char
 * writes 0..255 and keeps the low 8 bits of the word it reads. */
QELRPC_API int xdr_uint32_t(MbufCursor* stream, XdrOp op, uint32_t* value);
QELRPC_API int xdr_u_long(MbufCursor* stream, XdrOp op, uint32_t* value);
QELRPC_API int xdr_int(MbufCursor* stream, XdrOp op, int32_t* value);
QELRPC_API int xdr_u_int(MbufCursor* stream, XdrOp op, uint32_t* value);
QELRPC_API int xdr_bool(MbufCursor* stream, XdrOp op, int32_t* value);
QELRPC_API int xdr_u_char(MbufCursor* stream, XdrOp op, unsigned char* value);
/* Always 1. */
QELRPC_API int xdr_void(void);
/* Fixed-length opaque data: `length` bytes and zero padding, no length word;
 * the caller owns the bytes. The encoder keeps no 4-byte reserve. */
QELRPC_API int xdr_opaque(MbufCursor* stream, XdrOp op, uint32_t length, void* bytes);
/* Counted bytes of at most maxLength. Decode allocates a new block (none for
 * length 0, which leaves *bytes as it was); free releases it and sets null. */
QELRPC_API int xdr_bytes(MbufCursor* stream, XdrOp op, void** bytes, uint32_t* length,
                         uint32_t maxLength);
/* A string without its terminator on the wire. Decode refuses a length
 * above maxLength and allocates a new NUL-terminated block; encode needs a
 * non-null text and does not consult maxLength. */
QELRPC_API int xdr_string(MbufCursor* stream, XdrOp op, char** text, uint32_t maxLength);
/* A counted array of at most maxCount elements of elementSize bytes, each
 * run through elementProc. Decode allocates a new zeroed block; a failed
 * decode releases whatever its elements had allocated and leaves null. */
QELRPC_API int xdr_array(MbufCursor* stream, XdrOp op, void** elements, uint32_t* count,
                         uint32_t maxCount, uint32_t elementSize, XdrProc elementProc);
/* The object *object points to, run through proc; decode allocates
 * objectSize zeroed bytes when *object is null, free releases it. With
 * proc == xdr_string the object is a string of any length. */
QELRPC_API int xdr_reference(MbufCursor* stream, XdrOp op, void** object, uint32_t objectSize,
                             XdrProc proc);
/* Optional data: a presence word, then the object when present. */
QELRPC_API int xdr_pointer(MbufCursor* stream, XdrOp op, void** object, uint32_t objectSize,
                           XdrProc proc);

/* The library's heap: what a decode hands out is released with the free
 * operation or xdrutil_free; what a free will release is allocated here. */
QELRPC_API void* xdrutil_malloc(uint32_t size); /* zero-filled, or null */
QELRPC_API void xdrutil_free(void* block);      /* null is allowed */
QELRPC_API char* xdrutil_strdup(const char* text);

#define RPC_MAX_AUTH_BYTES 400u
#define RPC_MAX_NETOBJ_BYTES 1024u

/* A credential or verifier. The body area is 400 bytes in place; its first
 * bytes hold the pointer to the body (a separate block, allocated by a
 * decode and released by a free). */
typedef struct opaque_auth {
    uint32_t flavor;
    uint32_t length; /* at most RPC_MAX_AUTH_BYTES */
    union {
        uint8_t* base;
        uint8_t area[RPC_MAX_AUTH_BYTES];
    } body;
} opaque_auth;

typedef struct mismatch_info {
    uint32_t low;
    uint32_t high;
} mismatch_info;

typedef struct call_body {
    uint32_t rpcvers;
    uint32_t prog;
    uint32_t vers;
    uint32_t proc;
    opaque_auth cred;
    opaque_auth verf;
} call_body;

typedef struct accepted_reply {
    opaque_auth verf;
    uint32_t stat; /* 0 SUCCESS .. 5 SYSTEM_ERR */
    struct mismatch_info mismatch_info; /* stat 2 (PROG_MISMATCH) only */
} accepted_reply;

typedef struct rejected_reply {
    uint32_t stat; /* 0 RPC_MISMATCH, 1 AUTH_ERROR */
    union {
        struct mismatch_info mismatch_info; /* stat 0 */
        uint32_t auth_stat;                 /* stat 1 */
    };
} rejected_reply;

typedef struct reply_body {
    uint32_t stat; /* 0 MSG_ACCEPTED, 1 MSG_DENIED */
    union {
        accepted_reply areply;
        rejected_reply rreply;
    };
} reply_body;

typedef struct rpc_msg {
    uint32_t xid;
    uint32_t mtype; /* 0 CALL, 1 REPLY */
    union {
        call_body cbody;
        reply_body rbody;
    };
} rpc_msg;

/* A Secure RPC network object of at most RPC_MAX_NETOBJ_BYTES. */
typedef struct netobj {
    uint32_t length;
    uint8_t* bytes;
} netobj;

/* A portmapper mapping. */
typedef struct mapping {
    uint32_t prog;
    uint32_t vers;
    uint32_t prot;
    uint32_t port;
} mapping;

/* 1 or 0. A decode that fails part-way leaves the bodies it allocated in the
 * record; run the same routine in free mode to release them. */
QELRPC_API int xdr_opaque_auth(MbufCursor* stream, XdrOp op, opaque_auth* auth);
QELRPC_API int xdr_mismatch_info(MbufCursor* stream, XdrOp op, mismatch_info* info);
QELRPC_API int xdr_call_body(MbufCursor* stream, XdrOp op, call_body* body);
/* The results of a successful call follow in the stream; they are not read. */
QELRPC_API int xdr_accepted_reply(MbufCursor* stream, XdrOp op, accepted_reply* reply);
QELRPC_API int xdr_rejected_reply(MbufCursor* stream, XdrOp op, rejected_reply* reply);
QELRPC_API int xdr_reply_body(MbufCursor* stream, XdrOp op, reply_body* body);
QELRPC_API int xdr_rpc_msg(MbufCursor* stream, XdrOp op, rpc_msg* msg);
QELRPC_API int xdr_rpc_netobj(MbufCursor* stream, XdrOp op, netobj* obj);
QELRPC_API int xdr_mapping(MbufCursor* stream, XdrOp op, mapping* map);

/* ======================== end of the XDR routines ======================= */

/* ------------------------------------------------------------------------
 * Operation lifecycle
 * ------------------------------------------------------------------------ */

/* 0, or 8 (no memory). Allocates and zero-fills a 65,536-byte block. */
QELRPC_API int rpcAllocateBuffer(Mbuf* m);
/* 0, 8 (no memory; no block held afterwards) or 1208 (null record). Keeps
 * every field the caller set except the two blocks, flags, asyncWindow,
 * cancelFlag and timeOffset. Closes no socket: sock is left as it is, so a
 * kept connection is ended with rpcCloseOperation first. */
QELRPC_API int rpcInitOperation(RpcOperation* op);
/* Clears the record, stores hostName (if not null) and hostAddr (unless
 * 0xFFFFFFFF), then rpcInitOperation. */
QELRPC_API int rpcInitOperationEx(RpcOperation* op, const char* hostName, uint32_t hostAddr);
/* Releases both blocks and the credential. Closes sock only when it is a
 * kept connection (RPC_OP_FLAG_KEEP_CONNECTION; the flag is then cleared and
 * sock is RPC_INVALID_SOCKET); a broadcast or listening socket stays open. */
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
 * Client calls: exchanges, call driver and reply check, portmapper look-up.
 * Parameters named `reserved` are ignored; pass 0. Every call runs on the
 * caller's thread; an operation is used by one thread at a time, and any
 * number of threads may call at once on different operations.
 * ------------------------------------------------------------------------ */

/* A dotted IPv4 address or a host name to an address in network byte
 * order; 0xFFFFFFFF when it cannot be resolved. */
QELRPC_API uint32_t GetHostIP(const char* name, int reserved);
/* Sends the prepared call (request block, behind its record-mark slot) to
 * hostAddr:udpPort up to 5 times, 1 second apart, on a socket of its own,
 * and takes the first datagram carrying the call's xid into the reply block
 * (block.count = its length). 0; -1 no reply; 87 no prepared request or no
 * reply block; 1208 null operation; a Windows Sockets error number. */
QELRPC_API int DoUDPRPCGram(RpcOperation* op, int reserved);
/* Connects to hostAddr:tcpPort (cancellable, see rpcSetAsyncOperation),
 * sends the call as one record and receives the reply's fragments back to
 * back into the reply block. 0; -1 the reply stayed silent for 20 seconds;
 * -2 the connect was cancelled; 67 hostAddr is 0; 87 / 1208 as above;
 * 10040 the reply is longer than the block (nothing is stored past it);
 * 10060 the server took no part of the request for 20 seconds; 10101 the
 * server closed before the reply was complete; another Windows Sockets
 * error number (a failed connect gives its own, e.g. 10061). */
QELRPC_API int DoTCPRPCGram(RpcOperation* op);
/* enable != 0: later TCP connects of this operation may be abandoned by
 * setting *cancelFlag nonzero (from another thread, or from a window
 * procedure: with a window, the calling thread keeps pumping the window's
 * messages while it waits). enable == 0: connects cannot be cancelled;
 * cancelFlag is forgotten, window is kept. */
QELRPC_API void rpcSetAsyncOperation(RpcOperation* op, int enable, RpcWindow window, int* cancelFlag);

/* Runs the prepared call over TCP when tcpPort is usable, else over UDP,
 * then ProcessRPCResponse. -1 both ports 0; -2 no usable port (no exchange,
 * the reply block is not looked at); 1208 null operation; an exchange's
 * failure unchanged; else as ProcessRPCResponse. */
QELRPC_API int CallRPC(RpcOperation* op, int reserved);
/* CallRPC after checking the operation: -1 hostAddr not resolved; -2 no
 * usable port. */
QELRPC_API int rpcCallRPCProgram(RpcOperation* op, int reserved);
/* Checks the reply in the reply block and records rejectStat, authStat and
 * acceptStat. 0: results in reply.data. -2 not a reply; -3 RPC_MISMATCH;
 * -4 AUTH_ERROR (authStat) or a failed AUTH_DES or RPCSEC_GSS verifier; -4 - n for
 * accept_stat n (-5 PROG_UNAVAIL ... -9 SYSTEM_ERR); -98 the reply to an
 * AUTH_DES call or on an established RPCSEC_GSS context lacks that flavor's
 * verifier (acceptStat untouched: no server was authenticated); -99 null operation, no
 * reply block, an unknown reject_stat or verifier flavor, or a reply shorter
 * than the words it must hold. */
QELRPC_API int ProcessRPCResponse(RpcOperation* op);

/* Appends the mapping's prog, vers, prot (6 TCP, 17 UDP), port; the status
 * of the last mbufAddLong. */
QELRPC_API int BuildPmapGetPort(MbufCursor* stream, const mapping* m);
/* Asks the server's portmapper (TCP port 111) for the program's TCP port,
 * then, if none, its UDP port (only the UDP port when protocol is 17), and
 * stores them in the operation. Overwrites the operation's request and reply
 * blocks. 0 a usable port found (prog 100000: both 111, nothing asked);
 * 111001 hostAddr unresolved and hostName unresolvable; -3 no memory for the
 * question; 200000 + e / 300000 + e the TCP-port / UDP-port question failed
 * with CallRPC's e; 1208 no usable port registered (or null operation). */
QELRPC_API int GetProgramPort(RpcOperation* op, uint32_t prog, uint32_t vers, int reserved);

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
 * On a connection of the accept loop running on this thread, what the
 * socket does not take at once is kept and sent by the loop as room comes
 * (0: sent or kept; a rest not sent within 20 seconds resets the
 * connection). Elsewhere it sends the whole record itself. 0, or -1 (null
 * operation, nothing to send, no memory to keep the rest, or the send failed
 * or stalled beyond 20 seconds; part of the reply may have gone out). */
QELRPC_API int ReplyRPC(RpcOperation* op, RpcSocket connection);
/* Clears the operation and opens a listening TCP endpoint on the host's
 * primary address and `port` (0: the system chooses; localAddr then holds
 * the address and port bound, in network order). 0; -1 null operation; -2 no
 * socket; -3 the host's address cannot be had; -4 bind; -5 getsockname;
 * -6 listen. After -3 to -6 the socket is in op->sock for the caller to
 * close. */
QELRPC_API int rpcInitServerOperation(RpcOperation* op, uint16_t port);
/* The accept loop, on the caller's thread: it waits on the listening socket
 * and every open connection at once, and hands whole calls to the handler
 * one at a time, in the order they became whole, each in a fresh operation
 * (with op->userData copied in); an idle, slow or non-reading client holds
 * only its own connection. Calls that cannot be read (closed, not complete
 * within 20 seconds of their first byte, longer than the 65,536-byte block,
 * or a malformed header) end their connection and never reach the handler;
 * a call of another RPC version is answered RPC_MISMATCH. Connections are
 * capped (about 1,000; fewer under a low descriptor limit): above the cap
 * the oldest idle one is closed. The connection handed to the handler is
 * non-blocking. Returns 0 when a handler answered 0; -1 null argument;
 * -5 accept failed; every connection the loop opened is closed by then. The
 * listening socket is never closed here. */
QELRPC_API int rpcAcceptIncoming(RpcOperation* listening, RpcCallHandler handler);

/* ------------------------------------------------------------------------
 * NFS user and group services: the PCNFSD version 2 and Qelnfsd version 1
 * clients.
 *
 * Names go in and out as a name list: each name (at most 255 characters)
 * followed by one NUL, the names end to end. An output area must hold count
 * names of 255 characters with their NULs (count * 256 bytes); the library
 * never writes more. Ids are signed 32-bit; -1 is unknown.
 *
 * openOperation (nonzero): the operation belongs to this one question and
 * is closed before the call returns, on every path; the Perform*Req* and
 * PerformQelnfsd* calls also open it. lookupPort (nonzero): ask the
 * server's portmapper for the daemon's port first.
 *
 * The readers that take a bare pointer to the results read only inside the
 * last reply this thread received (through CallRPC or ProcessRPCResponse),
 * up to its end; a pointer anywhere else reads nothing.
 * ------------------------------------------------------------------------ */

#define PCNFSD_PROGRAM 150001u
#define PCNFSD_VERSION 2u
#define PCNFSD_PROC_MAPID 12u
#define PCNFSD_PROC_AUTH 13u

#define QELNFSD_PROGRAM 0x2F00DBADu
#define QELNFSD_VERSION 1u
#define QELNFSD_PROC_AUTHORIZE 3u
#define QELNFSD_PROC_GROUPNAME_TO_GID 4u
#define QELNFSD_PROC_GIDS_TO_GROUPNAMES 5u
#define QELNFSD_PROC_UIDS_TO_USERNAMES 7u
#define QELNFSD_PROC_USERNAMES_TO_UIDS 8u

/* The kind of one PCNFSD mapping item. */
typedef uint32_t PcnfsdMapKind;
enum {
    MapUidToName = 0,
    MapGidToName = 1,
    MapUserNameToUid = 2,
    MapGroupNameToGid = 3
};

QELRPC_API int NFSDInitValues(uint32_t count, int32_t* values);
/* One MAPID call for all count items; ids through *idsRef. */
QELRPC_API int PcnfsdGetUNamesFromUids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                       uint32_t count, char* names, int32_t* uids);
QELRPC_API int PcnfsdGetGNamesFromGids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                       uint32_t count, char* names, int32_t* gids);
QELRPC_API int PcnfsdGetUidsFromUNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                       uint32_t count, const char* names, int32_t* uids);
QELRPC_API int PcnfsdGetGidsFromGNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                       uint32_t count, const char* names, int32_t* gids);
QELRPC_API int PerformRpcCallPcnfsd(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                    PcnfsdMapKind kind, uint32_t count, char* names, int32_t** idsRef);
QELRPC_API int BuildPcnfsdRequest(RpcOperation* op, PcnfsdMapKind kind, uint32_t count, const char* names,
                                  int32_t** idsRef);
QELRPC_API int BuildPcnfsdResult(RpcOperation* op, PcnfsdMapKind kind, uint32_t count, char* names,
                                 int32_t** idsRef);
QELRPC_API int PerformPcnfsdReqGid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                   uint32_t count, const int32_t* gids, char* names);
QELRPC_API int PerformPcnfsdReqUid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                   uint32_t count, const int32_t* uids, char* names);
QELRPC_API int BuildPcnfsdReqGidOrUid(RpcOperation* op, PcnfsdMapKind kind, uint32_t count,
                                      const int32_t* ids);
QELRPC_API int BuildPcnfsdResponseGidOrUid(const uint8_t* results, uint32_t count, char* names);
QELRPC_API int BuildPcnfsdReqGroupNames(RpcOperation* op, uint32_t count, const char* names);
QELRPC_API int BuildPcnfsdResponseGroupNames(const uint8_t* results, uint32_t count, int32_t** gidPtrs);

QELRPC_API int PerformQelnfsdGroupName(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                       const char* groupName, int32_t* gid);
QELRPC_API int PerformQelnfsdReqGid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                    uint32_t count, const int32_t* gids, char* names);
QELRPC_API int PerformQelnfsdReqUid(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                    uint32_t count, const int32_t* uids, char* names);
QELRPC_API int BuildQelnfsdReqGroupNames(RpcOperation* op, uint32_t count, const char* names);
QELRPC_API int BuildQelnfsdReqUidsFromUNames(RpcOperation* op, uint32_t count, const char* names);
QELRPC_API int BuildQelnfsdReqGidOrUid(RpcOperation* op, uint32_t count, const int32_t* ids);
QELRPC_API int BuildQelnfsdResponseGroupNames(const uint8_t* results, uint32_t count, int32_t** gidPtrs);
/* count when every item had a name, 0 when the list ended early, 1728 when
 * the results cannot be read. */
QELRPC_API int BuildQelnfsdResponseGidOrUid(const uint8_t* results, uint32_t count, char* names);
/* 0, or -2 when the reply ends before a name's answer (that uid is -1). */
QELRPC_API int BuildQelnfsdResponseUidsFromUNames(RpcOperation* op, uint32_t count, int32_t* uids);

/* ------------------------------------------------------------------------
 * Broadcast calls over UDP to 255.255.255.255
 * ------------------------------------------------------------------------ */

/* A wait: seconds and microseconds, as the socket layer's time value. */
typedef struct RpcTimeValue {
    int32_t seconds;
    int32_t microseconds;
} RpcTimeValue;

/* Called for each good answer: the sender, the operation whose reply data
 * window stands on the results behind the leading nonzero word, and the
 * caller's value. Nonzero ends the broadcast. */
typedef int (*BroadcastReplyProc)(RpcSockAddrIn* sender, RpcOperation* op, int value);

/* Sends the prepared call once to port udpPort of every host and hands each
 * good answer to replyProc, until it answers nonzero or no answer comes
 * within one full wait (timeout null: 25 seconds), each wait starting
 * afresh. -300 null argument; -301 a socket step failed; -302 ended. Never
 * 0. */
QELRPC_API int rpcBroadcastUDP(RpcOperation* op, BroadcastReplyProc replyProc, const RpcTimeValue* timeout,
                               int value);
/* Sends the prepared call once to port 111 of every host and leaves the
 * socket in op->sock for rpcBroadcastReadNext; the caller closes it. 0;
 * -300 null operation; -301 failed (the operation is then released and
 * cleared to zero). */
QELRPC_API int rpcBroadcastStart(RpcOperation* op);
/* The next good answer within *timeout: 0 (sender and results available),
 * -300 null argument, -301 socket failure, -302 none within the wait. */
QELRPC_API int rpcBroadcastReadNext(RpcOperation* op, const RpcTimeValue* timeout, RpcSockAddrIn* sender);

/* ------------------------------------------------------------------------
 * NFS user and group services: name-service dispatch and user
 * authorisation.
 *
 * Which service answers the name and id questions is decided by
 * PerformNfsdCheck and remembered for the process: the local directory
 * service (the qelnis library, loaded for each use, when it reports one as
 * configured), else PCNFSD version 2, else Qelnfsd version 1 on the server
 * the operation names. A check with openOperation clear reuses the
 * remembered kind without any exchange, so the operation must then already
 * be set up for that daemon (as a check with lookupPort leaves it). Name
 * lists, ids and the two byte flags are as for the PCNFSD and Qelnfsd
 * clients above.
 * ------------------------------------------------------------------------ */

typedef int32_t NameServiceKind;
enum {
    NameServiceQelnfsd = 1,
    NameServicePcnfsd = 2,
    NameServiceDirectory = 5
};

/* 0 and *kind set; -1 no service answers (or the AUTH_UNIX credential could
 * not be attached); rpcInitOperation's status. With openOperation set and a
 * daemon found, the operation is left open for the question that follows;
 * otherwise it is closed again. */
QELRPC_API int PerformNfsdCheck(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                NameServiceKind* kind);
/* gids[i] for the i-th name, -1 where unknown. Through Qelnfsd one call per
 * name (the last call's status is returned). */
QELRPC_API int PerformGetGidsFromGNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                        uint32_t count, const char* names, int32_t* gids);
/* One name per gid appended to names. Through Qelnfsd at most 128 gids a
 * call; a reply that ends its list early ends the question. Through the
 * directory service an unknown gid yields an empty name. */
QELRPC_API int PerformGetGNamesFromGids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                        uint32_t count, char* names, const int32_t* gids);
QELRPC_API int PerformGetUidsFromUNames(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                        uint32_t count, const char* names, int32_t* uids);
QELRPC_API int PerformGetUserNamesFromUids(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                           uint32_t count, char* names, const int32_t* uids);
/* PerformGetGidsFromGNames for the one name groupName. */
QELRPC_API int PerformPcnfsdGroupName(RpcOperation* op, uint8_t openOperation, uint8_t lookupPort,
                                      const char* groupName, int32_t* gid);

/* authFlags bits, ORed in by PerformAuthorizeUser; never cleared. */
#define AUTH_BY_QELNFSD 0x1u
#define AUTH_BY_PCNFSD 0x2u
#define AUTH_VIA_ALT_SERVER 0x80000u

/* Authorises userName with password (sent only scrambled; the scrambling
 * is not encryption, anyone can undo it) at the first
 * daemon and server that the first 4 characters of authOrder lead to:
 * a Qelnfsd at serverAddress, b Qelnfsd at altServerAddress, c PCNFSD at
 * serverAddress, d PCNFSD at altServerAddress (case-insensitive; with an
 * alternative server a acts as b and c as d; b and d at most once; other
 * characters are skipped). Addresses in network byte order; altServerAddress
 * 0 (or 0xFFFFFFFF) = none. In: *groupCount = entries of gids. Returns
 * 0 accepted (*uid, *gid, gids and *groupCount = the gids stored, at most
 * the capacity); 5 PCNFSD refused; 1311 no server knows the daemon; 1317
 * Qelnfsd refused; 1359 internal error, or the name and password are too
 * long (PCNFSD: 32 and 64 characters; Qelnfsd: 60 together; nothing is
 * sent); 1728 the daemon's reply cannot be read (a protocol error, not a
 * refusal); else rpcPrepareRPCHeader's or CallRPC's status. The outputs are
 * written only from a reply; *authFlags as soon as a daemon is chosen. */
QELRPC_API int PerformAuthorizeUser(const char* userName, const char* password, const char* comment,
                                    uint32_t serverAddress, uint32_t altServerAddress, const char* authOrder,
                                    int32_t* uid, int32_t* gid, int32_t* gids, int32_t* groupCount,
                                    uint32_t* authFlags);
/* The authorisation results (status, uid, gid, count, gids): *uid, *gid and
 * the first *groupCount gids are set to -1, then filled from an accepted
 * reply, *groupCount becoming the number of gids stored. 0 accepted; -1
 * (Qelnfsd) or 5 (PCNFSD) refused; 1728 results that cannot be read (too
 * short, or a pointer outside the last reply this thread received). */
QELRPC_API int BuildQelnfsdAuthorizeResponse(const uint8_t* results, int32_t* uid, int32_t* gid, int32_t* gids,
                                             int32_t* groupCount);
QELRPC_API int BuildPcnfsdAuthorizeResponse(const uint8_t* results, int32_t* uid, int32_t* gid, int32_t* gids,
                                            int32_t* groupCount);


/* ------------------------------------------------------------------------
 * AUTH_DES (Secure RPC, RFC 1057 section 9; RFC 2695) and net names.
 *
 * The credential is sent in its full-name form (net name, conversation key
 * encrypted under the Diffie-Hellman common key, encrypted window) until a
 * reply's verifier passes its check; from then on in the short nickname
 * form the server assigned, until GetProgramPort puts it back into the
 * full-name form. Timestamps are on the server's clock: the first AUTH_DES
 * header of an operation asks the server's time service (RFC 868, port 37;
 * TCP, then UDP, waiting up to 10 seconds for each step) and keeps the
 * difference in timeOffset; while no answer comes the local clock is used
 * and the next header asks again. The DES and Diffie-Hellman arithmetic
 * comes from the qeldes library.
 * ------------------------------------------------------------------------ */

#define RPC_AUTHDES_NETNAME_MAX 255 /* characters, without the NUL */
#define RPC_AUTHDES_FULLNAME 0u
#define RPC_AUTHDES_NICKNAME 1u
#define RPC_AUTHDES_WINDOW 60u /* seconds a credential stays valid */
/* rpcPrepareRPCHeader: the AUTH_DES credential could not be encrypted (a
 * DES cipher failure, or no random conversation key from the system):
 * ERROR_ENCRYPTION_FAILED. No header was written and the credential is as
 * it was. */
#define RPC_ERROR_ENCRYPTION_FAILED 6000

/* The AUTH_DES record behind RpcAuth.body; owned by the operation. */
typedef struct AuthDesCred {
    char netName[RPC_AUTHDES_NETNAME_MAX + 1]; /* the client's net name */
    uint8_t convKey[8];    /* conversation key in clear (random, odd parity) */
    uint8_t encConvKey[8]; /* convKey encrypted under commonKey */
    uint32_t nameKind;     /* RPC_AUTHDES_FULLNAME or RPC_AUTHDES_NICKNAME */
    uint32_t nickname;     /* from the last reply verifier that passed */
    int32_t lastSeconds;   /* timestamp of the last credential written */
    int32_t lastUseconds;  /* 0, counting up for calls within one second */
    uint8_t commonKey[8];  /* DES key from the common key, odd parity */
} AuthDesCred;

/* Attaches an AUTH_DES credential for the client netName (at most 255
 * characters) to op, replacing what op->auth held (which is not released).
 * serverPublicKey and clientSecretKey are hexadecimal texts of at most 255
 * digits: the server's public key and the client's secret key, from which
 * the Diffie-Hellman common key with the Secure RPC modulus is computed.
 * 1 attached; 0 a null or over-long argument (op->auth untouched), or a
 * key text the arithmetic refuses (not hexadecimal, or a common key of
 * fewer than 32 digits) or no memory (op->auth is then null). */
QELRPC_API int rpcCreateAuthDES(RpcOperation* op, const char* netName, const char* serverPublicKey,
                                const char* clientSecretKey);

/* Secure RPC net names: "unix.<host>@<domain>" and "unix.<uid>@<domain>".
 * out must hold 255 bytes; a name and its NUL never take more. Each returns
 * 1 for success and 0 for failure, and never writes a partial name. */

/* host null: this machine's name. The host name is cut at its first '.', a
 * trailing '.' of the domain dropped. 0: null out or domain, an empty
 * domain, this machine's name unknown, or a name that would not fit (out is
 * then the empty text unless out or domain was null). */
QELRPC_API int host2netname(char* out, const char* host, const char* domain);
/* A trailing '.' of the name is dropped. 0: null out or domain, or a domain
 * longer than 237 characters (out untouched). */
QELRPC_API int user2netname(char* out, int uid, const char* domain);
/* The text between netName's first '.' and the next '@', cut or padded
 * with NULs to hostLen characters, into host (hostLen + 1 bytes; host[hostLen]
 * is NUL). 0: a null argument, a net name longer than 255 characters, no
 * '.' or no '@' after it, or hostLen outside 0..255 (host untouched). */
QELRPC_API int netname2host(const char* netName, char* host, int hostLen);

/* ------------------------------------------------------------------------
 * RPCSEC_GSS (RFC 2203) with Kerberos through a GSS-API back end.
 *
 * The MIT Kerberos GSS-API library is loaded once, when the library loads
 * ("gssapi32" on Windows, libgssapi_krb5.so.2 elsewhere), and called through
 * names resolved at run time; without it the library works for every other
 * flavor and the functions below answer -1.
 *
 * Order of use: rpcCreateAuthRPCSEC_GSS, set prog, vers and the ports, then
 * RPCSEC_GSS_InitSecurityContext. For each call afterwards:
 * rpcPrepareRPCHeader first — it advances the record's seqNum by one and
 * writes it into the credential, with a MIC of the header as verifier —
 * then protect the arguments with that same seqNum (RFC 2203 requires the
 * body's sequence number to match the credential's), InitDataBuffer, append
 * the protected body, CallRPC. The first call after the set-up carries 1.
 * A reply's RPCSEC_GSS verifier is checked by ProcessRPCResponse against the
 * call's seqNum. Results of integrity and privacy calls come back protected:
 * check or unseal them with the functions below and drop the leading
 * sequence number, which must equal the call's.
 *
 * Status codes (0 success):
 *  -1 the MIT back end is not loaded      -2 the credential is not RPCSEC_GSS
 *  -3 no RPCSEC_GSS record to work on     -4 importing the service name failed
 *  -5 no memory                           -6 context set-up failed, or a MIC
 *                                            check failed otherwise
 *  -7 making a MIC failed                 -8 service level not 1, 2 or 3
 *  -9 sealing failed                      -10 a required pointer is null
 *  -11 unsealing failed, or sealing the destroy request failed
 *  -12 the output buffer is too small     -13 no default credentials
 *  -14 credentials expired                -15 credential query failed
 *  -16 credentials defective              -17 bad quality of protection
 *  -18 no such context                    -19 context expired
 *  -23 the MIC does not match
 *  s - 100: rpcPrepareRPCHeader returned s; s - 200: CallRPC returned s.
 * ------------------------------------------------------------------------ */

typedef int32_t GssProvider;
enum {
    GssProviderMit = 0,  /* the MIT Kerberos GSS-API library */
    GssProviderSspi = 1  /* the Windows security interface's Kerberos package */
};

/* A GSS-API security context handle (gss_ctx_id_t). */
typedef void* RpcGssContext;

#define RPCSEC_GSS_VERS_1 1u
#define RPCSEC_GSS_PROC_DATA 0u
#define RPCSEC_GSS_PROC_INIT 1u
#define RPCSEC_GSS_PROC_DESTROY 3u
#define RPCSEC_GSS_SVC_NONE 1
#define RPCSEC_GSS_SVC_INTEGRITY 2
#define RPCSEC_GSS_SVC_PRIVACY 3
/* The longest server context handle that fits a credential of 400 bytes. */
#define RPCSEC_GSS_MAX_HANDLE 380u
/* The longest header MIC the library sends. */
#define RPCSEC_GSS_MAX_MIC 400u

/* The RPCSEC_GSS record behind RpcAuth.body; owned by the operation and
 * released by rpcCloseOperation with principal, handle and context. */
typedef struct AuthGssCred {
    uint32_t majorStatus;  /* GSS major status of the last set-up step */
    uint32_t minorStatus;  /* its minor status */
    char* principal;       /* target service, service@host; owned */
    uint32_t gssProc;      /* RPCSEC_GSS_PROC_* of the next credential */
    uint32_t seqNum;       /* sequence number of the call last prepared */
    uint32_t service;      /* RPCSEC_GSS_SVC_* */
    RpcGssContext context; /* the local security context; null until set-up */
    uint32_t handleLength; /* the server's context handle: length ... */
    uint8_t* handle;       /* ... and bytes; owned */
    GssProvider provider;  /* the back end the credential uses */
} AuthGssCred;

/* 1 when the back end can be used, else 0; any number other than 0 and 1
 * answers 1. */
QELRPC_API int IsGSSAvailable(int provider);
/* Always GssProviderMit. New credentials use the MIT library when it
 * loaded, otherwise the security interface's Kerberos package (their
 * record's provider says which). */
QELRPC_API GssProvider GetGSSProvider(void);

/* Attaches an RPCSEC_GSS credential for the service serviceName ("nfs"
 * becomes nfs@<op->hostName>; a name with '@' is kept as given) at the
 * service level `service`. 1 attached; 0 the back end is unavailable, a
 * null argument, no host name to complete the service name, or no memory
 * (op->auth is then null). */
QELRPC_API int rpcCreateAuthRPCSEC_GSS(RpcOperation* op, const char* serviceName, int service);
/* Sets up the context with the server at op's prog and vers, procedure 0.
 * Calling it again on an established credential drops the old context and
 * sets up a new one. -6 also when the server's final reply is malformed,
 * reports a GSS failure, or the first local step ends without a token. */
QELRPC_API int RPCSEC_GSS_InitSecurityContext(RpcOperation* op);
/* Sends one DESTROY call for the context; the record stays until close. */
QELRPC_API int RPCSEC_GSS_DestroySecurityContext(RpcOperation* op);
/* The principal of the default credentials, without its realm, into out
 * (room for *length characters and a NUL); *length becomes its length.
 * -12 leaves out empty. The third argument is not used. */
QELRPC_API int RPCSEC_GSS_InquireCredEx(char* out, uint32_t* length, int unused);
QELRPC_API int RPCSEC_GSS_InquireCred(char* out, uint32_t* length);

/* Protects len bytes for the service level (RFC 2203 section 5.3.2):
 * 1 a copy; 2 length, seqNum, the data (zero-padded to 4), MIC over seqNum
 * and the padded data; 3 length and the token sealing seqNum and the data.
 * *outLen is output only: out must hold the padded data and 12 bytes plus
 * the MIC (service 2) or the sealed token and 4 bytes (service 3). Any
 * other service returns 0 and writes nothing. */
QELRPC_API int MIT_RPCSEC_GSS_EncryptBuffer(const void* in, uint32_t len, void* out, uint32_t* outLen, int service,
                                            uint32_t seqNum, RpcGssContext context);
QELRPC_API int RPCSEC_GSS_EncryptBuffer(const void* in, uint32_t len, void* out, uint32_t* outLen, int service,
                                        uint32_t seqNum, RpcGssContext context);
QELRPC_API int RPCSEC_GSS_EncryptBufferEx(const void* in, uint32_t len, void* out, uint32_t* outLen, int service,
                                          uint32_t seqNum, RpcOperation* op);
/* Unseals a sealed token (the bytes behind a privacy body's length word);
 * *outLen: in, the room; out, the clear length. The clear text begins with
 * the sequence number, which is neither checked nor removed. */
QELRPC_API int MIT_RPCSEC_GSS_DecryptBuffer(const void* in, uint32_t inLen, RpcGssContext context, void* out,
                                            uint32_t* outLen);
QELRPC_API int RPCSEC_GSS_DecryptBuffer(const void* in, uint32_t inLen, RpcGssContext context, void* out,
                                        uint32_t* outLen);
QELRPC_API int RPCSEC_GSS_DecryptBufferEx(const void* in, uint32_t inLen, RpcOperation* op, void* out,
                                          uint32_t* outLen);
/* A MIC of len bytes; *micLen: in, the room; out, the MIC's length. */
QELRPC_API int MIT_RPCSEC_GSS_GetMIC(RpcGssContext context, const void* data, uint32_t len, void* mic,
                                     uint32_t* micLen);
QELRPC_API int RPCSEC_GSS_GetChecksum(RpcGssContext context, const void* data, uint32_t len, void* mic,
                                      uint32_t* micLen);
QELRPC_API int RPCSEC_GSS_GetMIC(RpcOperation* op, const void* data, uint32_t len, void* mic, uint32_t* micLen);
/* 0 when mic is a MIC of data (a replayed or out-of-order token alone
 * counts as good); -23 it does not match; -18 no context; -6 otherwise. */
QELRPC_API int MIT_RPCSEC_GSS_VerifyMIC(RpcGssContext context, const void* data, uint32_t len, const void* mic,
                                        uint32_t micLen);
QELRPC_API int RPCSEC_GSS_VerifyMIC(RpcOperation* op, const void* data, uint32_t len, const void* mic,
                                    uint32_t micLen);
/* Writes the texts of the credential's majorStatus and minorStatus to the
 * standard error stream, one "GSS-API error: ..." line each. */
QELRPC_API int RPCSEC_GSS_GetErrorMessage(RpcOperation* op, int unused1, int unused2);

/* ========================================================================
 * Extensions
 *
 * These go beyond the described interface. A caller who never calls them
 * sees every function above behave exactly as documented there.
 * ======================================================================== */

/* Kept client connections. enable != 0: from the next call on, the TCP
 * exchange (DoTCPRPCGram, CallRPC and everything built on them) keeps its
 * connection open in op->sock and reuses it for the next call to the same
 * hostAddr and tcpPort; the UDP exchange keeps its socket the same way.
 * Whatever sock held before is forgotten, never closed. A connection the
 * peer has closed (or that holds unread bytes) is found before the call is
 * sent and replaced by a new one; a failure once the call is under way is
 * reported and the call is not sent again. A TCP call to another address
 * or port, a call over the other transport, and any failed exchange close
 * the kept socket (the next call makes a new one). The kept UDP socket is
 * tied to no peer: each call goes to hostAddr:udpPort and only a datagram
 * carrying its xid is taken, as without the extension. enable == 0 closes
 * a kept socket (sock becomes RPC_INVALID_SOCKET). One thread at a time per
 * operation. 0; 1208 null operation. */
QELRPC_API int rpcSetKeepConnection(RpcOperation* op, int enable);

/* Reserved source ports, for servers that accept AUTH_UNIX only from ports
 * below 1024 (an NFS server's "secure" export option). enable != 0: every
 * new socket the TCP and UDP exchanges make for this operation (DoTCPRPCGram,
 * DoUDPRPCGram, CallRPC and everything built on them) is bound to a free
 * port in 512..1023 before it connects or sends, searched downward from a
 * random start with wrap-around, each port at most once. When the process may
 * not bind such ports (Linux: neither root nor CAP_NET_BIND_SERVICE) the
 * exchange returns 10013 (WSAEACCES) and sends nothing; when every port is
 * busy, 10048 (WSAEADDRINUSE); there is never a fallback to an ephemeral
 * port. A kept connection (rpcSetKeepConnection) is reused as it is: the
 * setting applies when a new socket is made. GetProgramPort's portmapper
 * question does not use it. enable == 0 clears it. Sets or clears
 * RPC_OP_FLAG_RESERVED_PORT in flags; rpcInitOperation clears it with the
 * other flags. 0; 1208 null operation. */
QELRPC_API int rpcSetReservedPort(RpcOperation* op, int enable);

/* A server endpoint on a chosen address: rpcInitServerOperation with the
 * address to listen on given instead of looked up from the host name.
 * address is an IPv4 address in network byte order, as GetHostIP returns
 * and hostAddr holds: 0 (INADDR_ANY) listens on every interface, so the
 * port a portmapper hands out answers on 127.0.0.1 and on every address of
 * the host; htonl(INADDR_LOOPBACK) on loopback only; any other address on
 * that address only (it must be one of the host's). No host name is looked
 * up, so a host whose name does not resolve starts at once. Everything else
 * as rpcInitServerOperation: udpPort = port; localAddr holds the address
 * and port bound (network order; address 0 for every interface); the same
 * socket options and backlog. 0; -1 null operation; -2 no socket; -4 bind
 * (an address not the host's included); -5 getsockname; -6 listen. After
 * -4 ... -6 the socket is in op->sock for the caller to close. */
QELRPC_API int rpcInitServerOperationAt(RpcOperation* op, uint32_t address, uint16_t port);

/* The exchange observer: a function of the caller's shown every exchange
 * the library makes on the calling thread, right after it, on the caller's
 * operations (DoTCPRPCGram, DoUDPRPCGram, CallRPC and everything built on
 * them) and on the operations the library makes for itself (GetProgramPort's
 * portmapper questions, PerformNfsdCheck, the name-service and
 * authorisation calls): the call message as sent and the reply as
 * received, for tracing and support. Broadcasts and the server side are
 * not exchanges and are not shown.
 *
 * The view and the bytes it points to are valid only during the call; the
 * observer must not change them, must return (no exception, no longjmp)
 * and may make calls of its own, which are not shown to it. The call bytes
 * of an authorisation carry the user's password, scrambled as its protocol
 * scrambles it, which anyone can undo: an observer that keeps or shows
 * them masks it. rpcSetExchangeObserver installs observer and context for
 * the calling thread only (other threads keep theirs), replacing the
 * previous one; a null observer removes it. */
#define RPC_EXCHANGE_TCP 6
#define RPC_EXCHANGE_UDP 17
typedef struct RpcExchangeView {
    const RpcOperation* op;  /* the operation of the exchange */
    int transport;           /* RPC_EXCHANGE_TCP or RPC_EXCHANGE_UDP */
    int status;              /* the exchange's status, as DoTCPRPCGram and
                                DoUDPRPCGram return it: 0 when a reply came
                                (its header not yet checked) */
    uint32_t hostAddr;       /* the server's address, network order */
    uint16_t port;           /* the server's port */
    uint16_t reserved;
    uint32_t recordMark;     /* TCP: the record mark sent ahead of the call
                                (one record, the last-fragment bit set);
                                UDP: 0 */
    uint32_t callLength;
    const uint8_t* call;     /* the call message as sent (after the mark) */
    uint32_t replyLength;    /* 0 when nothing was received */
    const uint8_t* reply;    /* the reply message as received (TCP: the
                                record's fragments joined), or null */
} RpcExchangeView;
typedef void (*RpcExchangeObserver)(const RpcExchangeView* view, void* context);
QELRPC_API void rpcSetExchangeObserver(RpcExchangeObserver observer, void* context);

/* The library's version, as its packages, the CMake package and qelrpc.pc
 * give it: major.minor.patch, the same as a string, and as one number for
 * comparisons (#if QELRPC_VERSION_NUMBER >= 0x000100 for 0.1.0). The
 * library's file name carries the major version (libqelrpc.so.0). */
#define QELRPC_VERSION_MAJOR 0
#define QELRPC_VERSION_MINOR 1
#define QELRPC_VERSION_PATCH 0
#define QELRPC_VERSION_STRING "0.1.0"
#define QELRPC_VERSION_NUMBER \
    ((QELRPC_VERSION_MAJOR << 16) | (QELRPC_VERSION_MINOR << 8) | QELRPC_VERSION_PATCH)

#ifdef __cplusplus
}
#endif

#endif /* QELRPC_H */
