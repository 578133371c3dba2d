// SPDX-License-Identifier: MIT
// The two programs the reference daemon answers on one TCP endpoint:
// PCNFSD version 2 (null, MAPID, AUTH) and Qelnfsd version 1 (null and the
// name, id and authorisation procedures).
#pragma once

#include <cstdint>

#include "accounts.h"
#include "qelrpc.h"

namespace refd {

constexpr uint32_t kPcnfsdProgram = 150001;
constexpr uint32_t kPcnfsdVersion = 2;
constexpr uint32_t kQelnfsdProgram = 0x2F00DBAD;
constexpr uint32_t kQelnfsdVersion = 1;

// Answers one call that the server side has checked; returns the accept
// status it replied with. The reply is sent on `connection`; replySent says
// whether it went out in full.
uint32_t answer(const Accounts& accounts, RpcOperation& call, RpcSocket connection, uint32_t xid, bool& replySent);

}  // namespace refd
