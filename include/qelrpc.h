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
 * -4 AUTH_ERROR (authStat) or a failed AUTH_DES verifier; -4 - n for
 * accept_stat n (-5 PROG_UNAVAIL ... -9 SYSTEM_ERR); -99 null operation, no
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
/* count when every item had a name, 0 when the list ended early. */
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

#ifdef __cplusplus
}
#endif

#endif /* QELRPC_H */
