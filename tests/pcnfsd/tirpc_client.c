/* SPDX-License-Identifier: MIT */
/*
 * A libtirpc client of PCNFSD version 2 (rpcgen stubs), the real peer that
 * calls the reference daemon in the server tests:
 *
 *   pcnfsd_tirpc_client PORT persistent|per-call|concurrent N USER PASSWORD
 *
 * Makes N NULL calls, one MAPID call (uid 1001, gid 100, user name USER,
 * group name users) and one AUTH call for USER/PASSWORD over TCP to
 * 127.0.0.1:PORT, either on one connection, on a connection per call, or
 * (concurrent) on N connections all opened first and kept open to the end,
 * a NULL call on each in turn and then a second round (2N NULL calls; MAPID
 * and AUTH go on the first), and prints what came back, a line per answer:
 *   null ok COUNT
 *   map KIND STATUS ID NAME
 *   auth STATUS UID GID NGIDS
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "pcnfsd_v2.h"

static CLIENT* connectTo(int port) {
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((unsigned short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int sock = RPC_ANYSOCK;
    CLIENT* c = clnttcp_create(&a, PCNFSDPROG, PCNFSDV2, &sock, 0, 0);
    if (c == NULL) {
        clnt_pcreateerror("pcnfsd_tirpc_client");
        exit(1);
    }
    struct timeval tv = {5, 0};
    clnt_control(c, CLSET_TIMEOUT, (char*)&tv);
    return c;
}

static void scramble(const char* in, char* out) {
    size_t i;
    for (i = 0; in[i]; ++i) out[i] = (char)((in[i] ^ 0x5B) & 0x7F);
    out[i] = 0;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: %s PORT persistent|per-call|concurrent N USER PASSWORD\n", argv[0]);
        return 2;
    }
    const int port = atoi(argv[1]);
    const int perCall = strcmp(argv[2], "per-call") == 0;
    const int concurrent = strcmp(argv[2], "concurrent") == 0;
    const int n = atoi(argv[3]);
    if (n < 0 || n > 10000 || (concurrent && n == 0)) return 2;
    CLIENT** all = NULL;
    if (concurrent) {
        all = calloc((size_t)n, sizeof *all);
        if (all == NULL) return 1;
        for (int i = 0; i < n; ++i) all[i] = connectTo(port);
    }
    CLIENT* c = perCall ? NULL : concurrent ? all[0] : connectTo(port);

    int ok = 0;
    for (int round = 0; concurrent && round < 2; ++round)
        for (int i = 0; i < n; ++i)
            if (pcnfsd2_null_2(NULL, all[i]) != NULL) ++ok;
    for (int i = 0; i < n && !concurrent; ++i) {
        CLIENT* cc = perCall ? connectTo(port) : c;
        if (pcnfsd2_null_2(NULL, cc) != NULL) ++ok;
        if (perCall) clnt_destroy(cc);
    }
    printf("null ok %d\n", ok);

    CLIENT* cc = perCall ? connectTo(port) : c;
    struct mapreq_arg_item items[4];
    memset(items, 0, sizeof items);
    items[0].req = MAP_REQ_UID; items[0].id = 1001; items[0].name = "";
    items[1].req = MAP_REQ_GID; items[1].id = 100; items[1].name = "";
    items[2].req = MAP_REQ_UNAME; items[2].id = -1; items[2].name = argv[4];
    items[3].req = MAP_REQ_GNAME; items[3].id = -1; items[3].name = "users";
    for (int i = 0; i < 3; ++i) items[i].mapreq_next = &items[i + 1];
    v2_mapid_args margs;
    margs.cm = "";
    margs.req_list = &items[0];
    v2_mapid_results* mres = pcnfsd2_mapid_2(&margs, cc);
    if (mres == NULL) {
        clnt_perror(cc, "mapid");
        return 1;
    }
    for (struct mapreq_res_item* r = mres->res_list; r != NULL; r = r->mapreq_next)
        printf("map %d %d %d %s\n", (int)r->req, (int)r->stat, r->id, r->name);
    if (perCall) clnt_destroy(cc);

    cc = perCall ? connectTo(port) : c;
    char id[IDENTLEN + 1], pw[PASSWORDLEN + 1];
    if (strlen(argv[4]) > IDENTLEN || strlen(argv[5]) > PASSWORDLEN) return 2;
    scramble(argv[4], id);
    scramble(argv[5], pw);
    v2_auth_args aargs;
    aargs.system = "tirpc-client";
    aargs.id = id;
    aargs.pw = pw;
    aargs.cm = "";
    v2_auth_results* ares = pcnfsd2_auth_2(&aargs, cc);
    if (ares == NULL) {
        clnt_perror(cc, "auth");
        return 1;
    }
    printf("auth %d %u %u %u\n", (int)ares->stat, ares->uid, ares->gid, ares->gids.gids_len);
    if (perCall) clnt_destroy(cc);
    if (concurrent) {
        for (int i = 0; i < n; ++i) clnt_destroy(all[i]);
        free(all);
    } else if (!perCall) {
        clnt_destroy(c);
    }
    return 0;
}
