// SPDX-License-Identifier: MIT
// The GSS-API (RFC 2743, C bindings RFC 2744) as the library reaches it: the
// few types it passes, declared here so that no GSS-API header or library is
// needed at build time, and the process-wide table of entry points resolved
// by name when the library loads (auth/gss_providers.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qelrpc::gss {

// MIT Kerberos for Windows builds its entry points with the __stdcall
// convention; everywhere else they are plain C functions.
#if defined(_WIN32) && !defined(_WIN64)
#define QELRPC_GSS_CALL __stdcall
#else
#define QELRPC_GSS_CALL
#endif

using OM_uint32 = uint32_t;
using gss_qop_t = OM_uint32;
using gss_name_t = void*;
using gss_ctx_id_t = void*;
using gss_cred_id_t = void*;
using gss_channel_bindings_t = void*;
using gss_cred_usage_t = int;

struct gss_buffer_desc {
    size_t length;
    void* value;
};
using gss_buffer_t = gss_buffer_desc*;

// MIT Kerberos for Windows packs its OID records to 4 bytes; on the 32-bit
// systems this library is built for, that is their natural layout.
struct gss_OID_desc {
    OM_uint32 length;
    void* elements;
};
using gss_OID = gss_OID_desc*;

struct gss_OID_set_desc {
    size_t count;
    gss_OID elements;
};
using gss_OID_set = gss_OID_set_desc*;

// Major status words (RFC 2744 section 3.9.1).
constexpr OM_uint32 kComplete = 0;
constexpr OM_uint32 kContinueNeeded = 1;
constexpr OM_uint32 kDuplicateToken = 2;
constexpr OM_uint32 kOldToken = 4;
constexpr OM_uint32 kUnseqToken = 8;
constexpr OM_uint32 kGapToken = 16;
constexpr OM_uint32 kBadName = 0x20000;
constexpr OM_uint32 kBadSig = 0x60000;
constexpr OM_uint32 kNoCred = 0x70000;
constexpr OM_uint32 kNoContext = 0x80000;
constexpr OM_uint32 kDefectiveToken = 0x90000;
constexpr OM_uint32 kDefectiveCredential = 0xA0000;
constexpr OM_uint32 kCredentialsExpired = 0xB0000;
constexpr OM_uint32 kContextExpired = 0xC0000;
constexpr OM_uint32 kFailure = 0xD0000;
constexpr OM_uint32 kBadQop = 0xE0000;

constexpr int kGssCode = 1;   // GSS_C_GSS_CODE
constexpr int kMechCode = 2;  // GSS_C_MECH_CODE
constexpr OM_uint32 kMutualFlag = 2;
constexpr OM_uint32 kReplayFlag = 4;

using ImportName = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_buffer_t, gss_OID, gss_name_t*);
using InitSecContext = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_cred_id_t, gss_ctx_id_t*, gss_name_t, gss_OID,
                                                   OM_uint32, OM_uint32, gss_channel_bindings_t, gss_buffer_t,
                                                   gss_OID*, gss_buffer_t, OM_uint32*, OM_uint32*);
using DeleteSecContext = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_ctx_id_t*, gss_buffer_t);
using ReleaseBuffer = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_buffer_t);
using ReleaseName = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_name_t*);
using GetMic = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_ctx_id_t, gss_qop_t, gss_buffer_t, gss_buffer_t);
using VerifyMic = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_ctx_id_t, gss_buffer_t, gss_buffer_t, gss_qop_t*);
using Wrap = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_ctx_id_t, int, gss_qop_t, gss_buffer_t, int*, gss_buffer_t);
using Unwrap = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_ctx_id_t, gss_buffer_t, gss_buffer_t, int*, gss_qop_t*);
using DisplayStatus = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, OM_uint32, int, gss_OID, OM_uint32*, gss_buffer_t);
using InquireCred = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_cred_id_t, gss_name_t*, OM_uint32*,
                                                gss_cred_usage_t*, gss_OID_set*);
using ReleaseOidSet = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_OID_set*);
using DisplayName = OM_uint32(QELRPC_GSS_CALL*)(OM_uint32*, gss_name_t, gss_buffer_t, gss_OID*);

// The MIT back end's entry points, in the order they are resolved. Written
// only while the library loads and unloads; read freely in between.
struct EntryPoints {
    ImportName importName;
    InitSecContext initSecContext;
    DeleteSecContext deleteSecContext;
    ReleaseBuffer releaseBuffer;
    ReleaseName releaseName;
    GetMic getMic;
    VerifyMic verifyMic;
    Wrap wrap;
    Unwrap unwrap;
    DisplayStatus displayStatus;
    gss_OID* ntServiceName;  // the exported variable: a pointer to the OID
    InquireCred inquireCred;
    ReleaseOidSet releaseOidSet;
    DisplayName displayName;
};

// The MIT back end's table, or null when it is unavailable.
const EntryPoints* mit() noexcept;

// GSS major statuses of a failed MIC, seal or context step onto the
// library's codes: no context -18, expired context -19, bad QOP -17,
// anything else `fallback`.
int mapMajorStatus(OM_uint32 major, int fallback) noexcept;

// Loads the MIT back end from `path` (a full path or a bare name), replacing
// what was loaded. True when every name resolved; otherwise nothing stays
// loaded and the back end is unavailable. Used at load and by tests.
bool loadMitLibrary(const char* path) noexcept;

// Test seam: installs `table` (or, with null, no table) as the MIT back end
// without any module; the previous state is released first.
void useTableForTesting(const EntryPoints* table) noexcept;

// Hands a buffer the back end filled back to it.
void releaseBuffer(gss_buffer_desc& b) noexcept;

// A buffer the back end fills; handed back on every path.
struct OwnedBuffer {
    gss_buffer_desc b{0, nullptr};
    OwnedBuffer() = default;
    OwnedBuffer(const OwnedBuffer&) = delete;
    OwnedBuffer& operator=(const OwnedBuffer&) = delete;
    ~OwnedBuffer() { releaseBuffer(b); }
};

}  // namespace qelrpc::gss
