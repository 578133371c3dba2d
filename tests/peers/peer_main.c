/* SPDX-License-Identifier: MIT */
/*
 * A real ONC RPC server for the client tests and benchmarks, on libtirpc:
 * the null program (procedure 0, versions 1 and 3) and the echo program
 * (procedure 1 returns its string), each on one UDP and one TCP transport.
 *
 *   qelrpc_peer [register|udp-only|noreg [PROGRAM-OFFSET]]
 *
 * register (default): both programs on TCP and UDP, registered with the
 * local portmapper; udp-only: both registered for UDP only (the TCP
 * transport still answers, unregistered); noreg: nothing registered.
 * PROGRAM-OFFSET (default 0) is added to both program numbers, so several
 * peers can register side by side. When ready it prints "ready tcp=PORT udp=PORT" on stdout. It ends on
 * SIGTERM and unregisters what it registered.
 */
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "qelrpc_peer.h"

void qelpeer_null_prog_1(struct svc_req* rqstp, SVCXPRT* transp);
void qelpeer_null_prog_3(struct svc_req* rqstp, SVCXPRT* transp);
void qelpeer_echo_prog_1(struct svc_req* rqstp, SVCXPRT* transp);

void* qelpeer_null_ping_1_svc(void* arg, struct svc_req* req) {
    static char nothing;
    (void)arg;
    (void)req;
    return &nothing;
}

void* qelpeer_null_ping3_3_svc(void* arg, struct svc_req* req) { return qelpeer_null_ping_1_svc(arg, req); }

peer_text* qelpeer_echo_text_1_svc(peer_text* arg, struct svc_req* req) {
    static peer_text result;
    (void)req;
    result = *arg; /* freed with the arguments after the reply is sent */
    return &result;
}

static int registered_udp, registered_tcp;
static unsigned long null_prog = QELPEER_NULL_PROG, echo_prog = QELPEER_ECHO_PROG;

static void unregister(void) {
    if (registered_udp || registered_tcp) {
        pmap_unset(null_prog, QELPEER_NULL_VERS);
        pmap_unset(null_prog, QELPEER_NULL_VERS3);
        pmap_unset(echo_prog, QELPEER_ECHO_VERS);
    }
}

static void on_term(int sig) {
    (void)sig;
    unregister();
    _exit(0);
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "register";
    registered_udp = strcmp(mode, "noreg") != 0;
    registered_tcp = strcmp(mode, "register") == 0;
    if (argc > 2) {
        const unsigned long offset = strtoul(argv[2], NULL, 0);
        null_prog += offset;
        echo_prog += offset;
    }

    signal(SIGTERM, on_term);
    signal(SIGPIPE, SIG_IGN);
    if (registered_udp) unregister();

    SVCXPRT* udp = svcudp_create(RPC_ANYSOCK);
    SVCXPRT* tcp = svctcp_create(RPC_ANYSOCK, 0, 0);
    if (udp == NULL || tcp == NULL) {
        fprintf(stderr, "qelrpc_peer: cannot create transports\n");
        return 1;
    }
    const int udpProto = registered_udp ? IPPROTO_UDP : 0;
    const int tcpProto = registered_tcp ? IPPROTO_TCP : 0;
    if (!svc_register(udp, null_prog, QELPEER_NULL_VERS, qelpeer_null_prog_1, udpProto) ||
        !svc_register(udp, null_prog, QELPEER_NULL_VERS3, qelpeer_null_prog_3, udpProto) ||
        !svc_register(tcp, null_prog, QELPEER_NULL_VERS3, qelpeer_null_prog_3, tcpProto) ||
        !svc_register(udp, echo_prog, QELPEER_ECHO_VERS, qelpeer_echo_prog_1, udpProto) ||
        !svc_register(tcp, null_prog, QELPEER_NULL_VERS, qelpeer_null_prog_1, tcpProto) ||
        !svc_register(tcp, echo_prog, QELPEER_ECHO_VERS, qelpeer_echo_prog_1, tcpProto)) {
        fprintf(stderr, "qelrpc_peer: cannot register (is a portmapper running?)\n");
        return 1;
    }
    printf("ready tcp=%u udp=%u\n", (unsigned)tcp->xp_port, (unsigned)udp->xp_port);
    fflush(stdout);
    svc_run();
    unregister();
    return 1;
}
