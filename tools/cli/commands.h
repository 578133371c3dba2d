// SPDX-License-Identifier: MIT
// The commands, each on the library's exported interface only. Every one
// returns the process's exit status: 0 success, 1 the operation failed.
#pragma once

#include <string>

#include "output.h"
#include "requests.h"

namespace qelrpc::cli {

// Port look-up, null calls, the portmapper's table and broadcasts (cmd_portmap.cpp).
int runGetport(const GetportRequest& r, const Output& out);
int runPing(const PingRequest& r, const Output& out);
int runBroadcast(const BroadcastRequest& r, const Output& out);
int runDump(const DumpRequest& r, const Output& out);

// The user services: name-service dispatch and authorisation (cmd_users.cpp).
int runIdsToNames(const IdsToNamesRequest& r, const Output& out);
int runNamesToIds(const NamesToIdsRequest& r, const Output& out);
int runAuthorize(const AuthorizeRequest& r, const Output& out);

// Secure RPC net names and the Kerberos principal (cmd_security.cpp).
int runNetname(const NetnameRequest& r, const Output& out);
int runGssWhoami(const GssWhoamiRequest& r, const Output& out);

// "pcnfsd (150001)" or "program 12345", for messages.
std::string programLabel(uint32_t prog);

}  // namespace qelrpc::cli
