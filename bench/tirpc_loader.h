// SPDX-License-Identifier: MIT
// libtirpc loaded once with dlopen for every benchmark program's libtirpc
// side; its routines are reached only through the pointers this returns.
#pragma once

namespace bench::tirpc {

// The libtirpc handle (RTLD_DEEPBIND, so libtirpc's calls among its own
// routines never bind to this library's routines of the same names).
// Aborts with a message when libtirpc cannot be loaded.
void* library();

// A libtirpc entry point; aborts with a message when it is missing.
void* symbol(const char* name);

template <class F>
F sym(const char* name) {
    return reinterpret_cast<F>(symbol(name));
}

}  // namespace bench::tirpc
