// SPDX-License-Identifier: MIT
// --trace: every message a command sends and receives, decoded field by
// field on standard error (standard output, --json included, stays as it
// is), for a user to send to support instead of a capture. Each exchange
// is shown by the library right after it (rpcSetExchangeObserver), its
// call as sent and its reply as received. Passwords (PCNFSD version 2 AUTH, Qelnfsd
// AUTHORIZE) are masked: their length is shown, never their bytes, clear
// or scrambled.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "qelrpc.h"

namespace qelrpc::cli {

void setTracing(bool on);
bool tracing();

// The exchange observer the tool installs with --trace
// (rpcSetExchangeObserver): the library shows it every exchange made on
// the thread, on the tool's operations and on its own (port look-ups, the
// name-service choice and questions, the authorisation), right after it.
void traceExchange(const RpcExchangeView* view, void* context);

// A broadcast: its call once (call true), then each answer with its
// sender (call false).
void traceBroadcast(const RpcOperation& op, bool call, const RpcSockAddrIn* sender);

// A note in the trace (a step the library makes on an operation of its
// own, whose bytes the tool cannot see).
void traceNote(const std::string& text);

// The decoding itself, to a stream (the tests read it back): one call
// message as written into a request block (a 4-byte record-mark slot,
// then the message) and one reply message.
void writeCall(std::FILE* f, const uint8_t* block, uint32_t length, bool tcp);
void writeReply(std::FILE* f, const uint8_t* message, uint32_t length, uint32_t prog, uint32_t proc);

}  // namespace qelrpc::cli
