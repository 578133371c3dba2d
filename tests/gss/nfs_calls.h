// SPDX-License-Identifier: MIT
// NFS version 3 calls under RPCSEC_GSS as both test builds make them
// (tests/test_net_gss.cpp on Linux, tests/test_win_gss.cpp under Wine):
// the export's root handle from MOUNT, a call whose arguments are
// protected at the credential's service level, and the results checked and
// unwrapped (RFC 2203 section 5.3.2).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "qelrpc.h"
#include "xdr/wire.h"

namespace nfscalls {

constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kNfsV3 = 3;
constexpr uint32_t kMountProgram = 100005;
constexpr uint32_t kMountV3 = 3;
constexpr uint32_t kProcNull = 0;
constexpr uint32_t kProcGetattr = 1;
constexpr uint32_t kMountProcMnt = 1;
constexpr uint32_t kNf3Dir = 2;

inline AuthGssCred& record(RpcOperation& op) { return *static_cast<AuthGssCred*>(op.auth->body); }

// The export's root file handle from MOUNT version 3 MNT over AUTH_UNIX;
// address as rpcInitOperationEx takes it.
inline bool mountRoot(const std::string& path, uint32_t address, std::vector<uint8_t>& fh) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, "localhost", address) != 0) return false;
    bool ok = false;
    // Ganesha registers MOUNT a moment after NFS answers.
    for (int i = 0; i < 50 && GetProgramPort(&op, kMountProgram, kMountV3, 0) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (rpcCreateAuthUnix(&op, "localhost", 0, 0) == 1 && rpcPrepareRPCHeader(&op, kMountProcMnt) == 0) {
        InitDataBuffer(&op.request);
        mbufAddString(&op.request.data, path.c_str());
        uint32_t status = 1, n = 0;
        if (CallRPC(&op, 0) == 0 && mbufGetLong(&op.reply.data, &status) == 0 && status == 0 &&
            mbufGetLong(&op.reply.data, &n) == 0 && n <= 64 && n <= op.reply.data.count) {
            fh.assign(op.reply.data.pos, op.reply.data.pos + n);
            ok = true;
        }
    }
    rpcCloseOperation(&op);
    return ok;
}

// GETATTR's arguments: the file handle as opaque<>.
inline std::vector<uint8_t> getattrArgs(const std::vector<uint8_t>& fh) {
    std::vector<uint8_t> a(4 + qelrpc::wire::padded(fh.size()), 0);
    qelrpc::wire::storeWord(a.data(), static_cast<uint32_t>(fh.size()));
    std::memcpy(a.data() + 4, fh.data(), fh.size());
    return a;
}

// Prepares the header (which takes the call's sequence number), protects
// args at the credential's service, appends them and calls.
inline int call(RpcOperation& op, uint32_t proc, const std::vector<uint8_t>& args) {
    int rc = rpcPrepareRPCHeader(&op, proc);
    if (rc != 0) return rc;
    std::vector<uint8_t> body(args.size() + 1024);
    uint32_t n = 0;
    rc = RPCSEC_GSS_EncryptBufferEx(args.data(), static_cast<uint32_t>(args.size()), body.data(), &n,
                                    static_cast<int>(record(op).service), record(op).seqNum, &op);
    if (rc != 0) return rc;
    InitDataBuffer(&op.request);
    std::memcpy(op.request.data.pos, body.data(), n);
    op.request.data.count = n;
    return CallRPC(&op, 0);
}

// The results as the server sent them in the clear: checked and with the
// sequence number removed.
inline ::testing::AssertionResult results(RpcOperation& op, std::vector<uint8_t>& out) {
    using qelrpc::wire::loadWord;
    const uint8_t* p = op.reply.data.pos;
    const uint32_t count = op.reply.data.count;
    const uint32_t seq = record(op).seqNum;
    if (record(op).service == RPCSEC_GSS_SVC_NONE) {
        out.assign(p, p + count);
        return ::testing::AssertionSuccess();
    }
    if (count < 4) return ::testing::AssertionFailure() << "short reply";
    const uint32_t n = loadWord(p);
    if (n > count - 4) return ::testing::AssertionFailure() << "body longer than the reply";
    if (record(op).service == RPCSEC_GSS_SVC_INTEGRITY) {
        if (n < 4 || count - 4 - n < 4) return ::testing::AssertionFailure() << "no MIC";
        const uint32_t q = loadWord(p + 4 + qelrpc::wire::padded(n));
        const int v = RPCSEC_GSS_VerifyMIC(&op, p + 4, n, p + 8 + qelrpc::wire::padded(n), q);
        if (v != 0) return ::testing::AssertionFailure() << "MIC check " << v;
        if (loadWord(p + 4) != seq) return ::testing::AssertionFailure() << "sequence number";
        out.assign(p + 8, p + 4 + n);
        return ::testing::AssertionSuccess();
    }
    std::vector<uint8_t> clear(count);
    uint32_t m = static_cast<uint32_t>(clear.size());
    const int d = RPCSEC_GSS_DecryptBufferEx(p + 4, n, &op, clear.data(), &m);
    if (d != 0) return ::testing::AssertionFailure() << "unseal " << d;
    if (m < 4 || loadWord(clear.data()) != seq) return ::testing::AssertionFailure() << "sequence number";
    out.assign(clear.begin() + 4, clear.begin() + m);
    return ::testing::AssertionSuccess();
}

// One GETATTR of the export's root, answered NFS3_OK with a directory.
inline void getattrOfTheRoot(RpcOperation& op, const std::vector<uint8_t>& fh) {
    ASSERT_EQ(call(op, kProcGetattr, getattrArgs(fh)), 0);
    std::vector<uint8_t> res;
    ASSERT_TRUE(results(op, res));
    ASSERT_GE(res.size(), 8u);
    EXPECT_EQ(qelrpc::wire::loadWord(res.data()), 0u);           // NFS3_OK
    EXPECT_EQ(qelrpc::wire::loadWord(res.data() + 4), kNf3Dir);  // the export's root
}

}  // namespace nfscalls
