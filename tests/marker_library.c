/* SPDX-License-Identifier: MIT */
/* A library that leaves a file behind when a process loads it: its
 * constructor creates the file named by QELRPC_TEST_MARKER. Tests hand its
 * path where the library would load code from, to see whether it did. */
#include <stdio.h>
#include <stdlib.h>

__attribute__((constructor)) static void leave_marker(void) {
    const char* path = getenv("QELRPC_TEST_MARKER");
    FILE* f;
    if (path == NULL || *path == '\0') return;
    f = fopen(path, "w");
    if (f == NULL) return;
    fputs("loaded\n", f);
    fclose(f);
}
