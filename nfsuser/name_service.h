// SPDX-License-Identifier: MIT
// Which name service answers this process's user and group questions: the
// kind the last successful check found, remembered for the process.
#pragma once

#include <cstdint>

namespace qelrpc::nfsuser {

// 0 until a check succeeds; then NameServiceQelnfsd, NameServicePcnfsd or
// NameServiceDirectory. Never goes back to 0 on its own.
int32_t rememberedNameServiceKind() noexcept;

// Test seam: forgets the remembered kind, as at load.
void forgetNameServiceKind() noexcept;

}  // namespace qelrpc::nfsuser
