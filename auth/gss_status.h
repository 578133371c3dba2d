// The status codes of the RPCSEC_GSS functions (0 success).
#pragma once

namespace qelrpc::gss::rc {

constexpr int kUnavailable = -1;      // the MIT back end is not loaded
constexpr int kNotGss = -2;           // the credential is not RPCSEC_GSS
constexpr int kNoRecord = -3;         // no RPCSEC_GSS record to work on
constexpr int kImportName = -4;       // importing the service name failed
constexpr int kNoMemory = -5;
constexpr int kSetupFailed = -6;      // context set-up failed, or a MIC check otherwise
constexpr int kMicFailed = -7;
constexpr int kBadService = -8;       // service level not 1, 2 or 3
constexpr int kSealFailed = -9;
constexpr int kNullArgument = -10;
constexpr int kUnsealFailed = -11;    // or sealing the destroy request failed
constexpr int kTooSmall = -12;
constexpr int kNoCred = -13;
constexpr int kCredExpired = -14;
constexpr int kInquireFailed = -15;
constexpr int kDefectiveCred = -16;
constexpr int kBadQop = -17;
constexpr int kNoContext = -18;
constexpr int kContextExpired = -19;
constexpr int kBadMic = -23;
constexpr int kHeaderBase = -100;     // rpcPrepareRPCHeader's status s gives s - 100
constexpr int kCallBase = -200;       // CallRPC's status s gives s - 200

}  // namespace qelrpc::gss::rc
