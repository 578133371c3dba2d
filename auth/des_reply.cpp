// Until the AUTH_DES flavor is built no operation can carry its credential
// (its header writer refuses), so no AUTH_DES reply verifier can match.
#include "auth/des_reply.h"

namespace qelrpc::auth {

bool checkAuthDesReplyVerifier(RpcOperation&, const uint8_t*) noexcept { return false; }

void useAuthDesNickname(RpcOperation&, uint32_t) noexcept {}

void restoreAuthDesFullName(RpcOperation&) noexcept {}

}  // namespace qelrpc::auth
