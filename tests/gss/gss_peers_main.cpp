// SPDX-License-Identifier: MIT
// The Linux side of the Windows suite's RPCSEC_GSS tests
// (tests/wine/run_suite.sh starts it beside its other peers, inside the
// suite's namespaces, after rpcbind): the throwaway realm with alice's
// ticket, NFS-Ganesha registered with the running rpcbind, and libtirpc's
// RPCSEC_GSS echo peer. Prints "ready" and then the variables the Windows
// side needs (the realm's files, which Wine's Kerberos package reads
// through the Linux libraries, the export and the echo peer's port), one
// NAME=value a line; stops everything on SIGTERM or after two hours.
#include <csignal>
#include <cstdio>
#include <string>

#include "gss/realm.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

int fail(const std::string& why) {
    std::printf("failed: %s\n", why.c_str());
    std::fflush(stdout);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    gsspeers::Realm realm;
    if (!realm.start()) return fail(realm.why());
    gsspeers::Ganesha ganesha;
    if (!ganesha.start(realm, false, false)) return fail(ganesha.why());
    testproc::Child echo;
    std::string line;
    if (argc > 1) {
        if (!echo.start({argv[1], "nfs@localhost"}) || !echo.readLine(line, std::chrono::seconds(10)) ||
            line.rfind("ready port ", 0) != 0) {
            return fail("the libtirpc RPCSEC_GSS peer did not start: " + line);
        }
    }
    std::printf("ready\nKRB5_CONFIG=%s/krb5.conf\nKRB5CCNAME=FILE:%s/ccache\nQELRPC_GSS_EXPORT=%s\n",
                realm.dir().c_str(), realm.dir().c_str(), ganesha.exportDir().c_str());
    if (argc > 1) std::printf("QELRPC_GSS_ECHO_PORT=%s\n", line.substr(11).c_str());
    std::fflush(stdout);
    for (int i = 0; i < 2 * 3600 * 10 && g_stop == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
