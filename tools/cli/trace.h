// SPDX-License-Identifier: MIT
// --trace: every message a command sends and receives, decoded field by
// field on standard error (standard output, --json included, stays as it
// is), for a user to send to support instead of a capture. Read from the
// operation's own request and reply blocks after each exchange, through
// the public record fields only. Passwords (PCNFSD version 2 AUTH, Qelnfsd
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

// The exchange just made on op (its request block as sent, its reply block
// as received). status is the call's result; what names the step ("null
// call", "PMAPPROC_DUMP", ...). Nothing when tracing is off.
void traceExchange(const RpcOperation& op, int status, const char* what);

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
