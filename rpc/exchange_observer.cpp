// SPDX-License-Identifier: MIT
#include "rpc/exchange_observer.h"

#include "xdr/wire.h"

namespace qelrpc::exchange {
namespace {

// Per thread: an operation is used by one thread at a time, and the
// library's own operations run on the caller's thread, so each thread's
// exchanges reach only the observer that thread installed.
thread_local RpcExchangeObserver t_observer = nullptr;
thread_local void* t_context = nullptr;
thread_local bool t_inside = false;

}  // namespace

void observe(const RpcOperation& op, bool tcp, uint32_t total, int status) noexcept {
    if (t_observer == nullptr || t_inside) return;
    RpcExchangeView v{};
    v.op = &op;
    v.transport = tcp ? RPC_EXCHANGE_TCP : RPC_EXCHANGE_UDP;
    v.hostAddr = op.hostAddr;
    v.port = tcp ? op.tcpPort : op.udpPort;
    v.status = status;
    v.call = op.request.block.pos + 4;
    v.callLength = total - 4;
    // The one record a call is sent as: its mark, as record marking writes it.
    v.recordMark = tcp ? wire::lastFragmentMark(total - 4) : 0;
    const uint32_t got = op.reply.block.count <= op.reply.block.limit ? op.reply.block.count : op.reply.block.limit;
    v.reply = got != 0 ? op.reply.block.pos : nullptr;
    v.replyLength = got;
    t_inside = true;
    t_observer(&v, t_context);
    t_inside = false;
}

}  // namespace qelrpc::exchange

extern "C" void rpcSetExchangeObserver(RpcExchangeObserver observer, void* context) {
    qelrpc::exchange::t_observer = observer;
    qelrpc::exchange::t_context = observer != nullptr ? context : nullptr;
}
