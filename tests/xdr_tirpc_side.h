// SPDX-License-Identifier: MIT
// libtirpc's side of the XDR cross-checks: its memory streams encoding and
// decoding plain values, so the tests compare wire bytes without ever
// seeing libtirpc's declarations (its xdr_* names clash with ours). Every
// function returns false when libtirpc refuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tirpc_side {

using Bytes = std::vector<uint8_t>;

// libtirpc.so.3 could be loaded (otherwise the checks are skipped).
bool available();

bool encodeUInts(const std::vector<uint32_t>& v, Bytes& out);
bool decodeUInts(const Bytes& in, size_t n, std::vector<uint32_t>& v);
bool encodeStrings(const std::vector<std::string>& v, Bytes& out);
bool decodeStrings(const Bytes& in, size_t n, std::vector<std::string>& v);
bool encodeByteStrings(const std::vector<Bytes>& v, Bytes& out);
bool decodeByteStrings(const Bytes& in, size_t n, std::vector<Bytes>& v);
bool encodeIntArray(const std::vector<int32_t>& v, Bytes& out);
bool decodeIntArray(const Bytes& in, std::vector<int32_t>& v);
// Optional int (xdr_pointer): null encodes absent.
bool encodeOptionalInt(const int32_t* v, Bytes& out);
bool decodeOptionalInt(const Bytes& in, bool& present, int32_t& v);
bool encodePmap(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port, Bytes& out);

struct Auth {
    uint32_t flavor = 0;
    Bytes body;
};

// A whole RPC message as plain values; which fields count depends on mtype,
// replyStat and the accept or reject status.
struct Msg {
    uint32_t xid = 0, mtype = 0;
    uint32_t rpcvers = 0, prog = 0, vers = 0, proc = 0;  // call
    Auth cred, verf;
    uint32_t replyStat = 0;  // reply
    Auth rverf;
    uint32_t acceptStat = 0, low = 0, high = 0;
    uint32_t rejectStat = 0, authStat = 0;
};

bool encodeMsg(const Msg& m, Bytes& out);
bool decodeMsg(const Bytes& in, Msg& m);

}  // namespace tirpc_side
