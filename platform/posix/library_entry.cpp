// SPDX-License-Identifier: MIT
// The shared library's load and unload on POSIX systems: the same steps as
// the Windows entry point, as constructor and destructor. A POSIX load
// cannot be refused; a failed start only shows the warning on the standard
// error stream.
#include "platform/library_entry.h"

namespace {

__attribute__((constructor)) void onLoad() { qelrpc::library::attach(); }

__attribute__((destructor)) void onUnload() { qelrpc::library::detach(); }

}  // namespace
