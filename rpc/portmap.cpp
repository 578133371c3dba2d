// SPDX-License-Identifier: MIT
// Port look-up through the server's portmapper (RFC 1833, version 2,
// PMAPPROC_GETPORT), always over TCP to port 111. The question runs on a
// temporary operation that borrows the caller's blocks, so it overwrites what
// the caller had there; callers write their own call header afterwards.
#include "rpc/portmap.h"

#include "qelrpc.h"
#include "rpc/call.h"
#include "rpc/call_header.h"
#include "rpc/credentials.h"
#include "rpc/exchange.h"
#include "rpc/flavor.h"
#include "rpc/operation.h"
#include "rpc/status.h"
#include "xdr/mbuf.h"

using namespace qelrpc;

namespace {

constexpr uint32_t kPmapProg = 100000;
constexpr uint32_t kPmapVers = 2;
constexpr uint32_t kPmapGetPort = 3;
constexpr uint16_t kPmapPort = 111;
constexpr uint32_t kIpprotoTcp = 6;
constexpr uint32_t kIpprotoUdp = 17;

// The temporary operation: the caller's connect mode and blocks, a fresh
// AUTH_NULL credential. Only the credential is released at the end; the
// blocks belong to the caller. It never keeps a connection, and never sees
// the caller's kept one: the portmapper is another port, and the caller's
// connection to its service must outlive the question.
struct PortmapQuery {
    RpcOperation temp{};
    explicit PortmapQuery(const RpcOperation& op) {
        temp.prog = kPmapProg;
        temp.vers = kPmapVers;
        temp.tcpPort = kPmapPort;
        temp.udpPort = kPmapPort;
        temp.hostAddr = op.hostAddr;
        temp.flags = op.flags & RPC_OP_FLAG_ASYNC;
        temp.sock = RPC_INVALID_SOCKET;
        temp.asyncWindow = op.asyncWindow;
        temp.cancelFlag = op.cancelFlag;
        operation::copyBuffer(op.request, temp.request);
        operation::copyBuffer(op.reply, temp.reply);
    }
    ~PortmapQuery() { flavor::release(temp.auth); }
    PortmapQuery(const PortmapQuery&) = delete;
    PortmapQuery& operator=(const PortmapQuery&) = delete;

    // One GETPORT question; 0 and the answer's low 16 bits, or the failure.
    int ask(uint32_t prog, uint32_t vers, uint32_t prot, int reserved, uint16_t& port) {
        operation::initDataBuffer(temp.request);
        if (rpc::buildPmapGetPort(temp.request.data, mapping{prog, vers, prot, 0}) != 0)
            return status::kPmapNoCredential;
        const int rc = rpc::callRpc(temp, reserved);
        if (rc != status::kOk) return rc;
        uint32_t answer = 0;
        if (mbuf::getLong(temp.reply.data, &answer) != 0) return status::kReplyMalformed;
        port = static_cast<uint16_t>(answer & 0xFFFFu);
        return status::kOk;
    }
};

}  // namespace

namespace qelrpc::rpc {

int buildPmapGetPort(MbufCursor& stream, const mapping& m) noexcept {
    mbuf::addLong(stream, static_cast<int32_t>(m.prog));
    mbuf::addLong(stream, static_cast<int32_t>(m.vers));
    mbuf::addLong(stream, static_cast<int32_t>(m.prot));
    return mbuf::addLong(stream, static_cast<int32_t>(m.port));
}

int getProgramPort(RpcOperation& op, uint32_t prog, uint32_t vers, int reserved) noexcept {
    if (op.hostAddr == 0 || op.hostAddr == 0xFFFFFFFFu) {
        op.hostAddr = exchange::getHostIp(op.hostName);
        if (op.hostAddr == 0xFFFFFFFFu) return status::kHostUnresolvable;
    }
    op.tcpPort = 0;
    op.udpPort = 0;
    flavor::resetForPortLookup(op);
    op.prog = prog;
    op.vers = vers;
    if (prog == kPmapProg) {
        op.tcpPort = kPmapPort;
        op.udpPort = kPmapPort;
        return status::kOk;
    }

    PortmapQuery q(op);
    if (credentials::createAuthNull(q.temp) != 1) return status::kPmapNoCredential;
    if (prepareHeader(q.temp, kPmapGetPort) != status::kOk) return status::kPmapNoCredential;

    if (op.protocol != RPC_PROTOCOL_UDP_ONLY) {
        const int rc = q.ask(prog, vers, kIpprotoTcp, reserved, op.tcpPort);
        if (rc != status::kOk) return status::kPmapTcpQueryBase + rc;
        if (rpc::usablePort(op.tcpPort)) return status::kOk;
    }
    const int rc = q.ask(prog, vers, kIpprotoUdp, reserved, op.udpPort);
    if (rc != status::kOk) return status::kPmapUdpQueryBase + rc;
    return rpc::usablePort(op.udpPort) ? status::kOk : status::kNullRecord;
}

}  // namespace qelrpc::rpc

extern "C" {

int BuildPmapGetPort(MbufCursor* stream, const mapping* m) {
    return stream != nullptr && m != nullptr ? rpc::buildPmapGetPort(*stream, *m) : -1;
}

int GetProgramPort(RpcOperation* op, uint32_t prog, uint32_t vers, int reserved) {
    return op != nullptr ? rpc::getProgramPort(*op, prog, vers, reserved) : status::kNullRecord;
}

}  // extern "C"
