/* SPDX-License-Identifier: MIT */
/* A libtirpc server that accepts RPCSEC_GSS for one program (NULL
 * procedure only), a second peer for context creation. libtirpc keeps its
 * contexts per connection. Prints "ready port N", then serves until it is
 * stopped. Usage: tirpc_gss_peer service@host */
#include <rpc/rpc.h>
#include <stdio.h>

/* From libtirpc's rpcsec_gss.h, declared here so no GSS-API header is
 * needed. */
extern bool_t rpc_gss_set_svc_name(char *principal, char *mechanism, u_int req_time, u_int program, u_int version);

#define PEER_PROGRAM 0x20000077u
#define PEER_VERSION 1u

static void dispatch(struct svc_req *req, SVCXPRT *xprt) {
    if (req->rq_proc == 0)
        svc_sendreply(xprt, (xdrproc_t)xdr_void, NULL);
    else
        svcerr_noproc(xprt);
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    if (!rpc_gss_set_svc_name(argv[1], "kerberos_v5", 0, PEER_PROGRAM, PEER_VERSION)) {
        printf("no service credentials\n");
        fflush(stdout);
        return 1;
    }
    SVCXPRT *xprt = svctcp_create(RPC_ANYSOCK, 0, 0);
    if (xprt == NULL || !svc_register(xprt, PEER_PROGRAM, PEER_VERSION, dispatch, 0)) return 1;
    printf("ready port %u\n", (unsigned)xprt->xp_port);
    fflush(stdout);
    svc_run();
    return 0;
}
