/* SPDX-License-Identifier: MIT */
/*
 * Test daemons on libtirpc's server side: PCNFSD version 2 (rpcgen stubs
 * from pcnfsd_v2.x) and Qelnfsd version 1 (hand-written XDR), answering
 * from a fixed table:
 *
 *   users   alice/wonderland 1001 gid 100, extra 27 1000
 *           bob/builder      1002 gid 100
 *           root/toor        0    gid 0
 *   groups  users 100, sudo 27, staff 1000, wheel 0
 *   uid and gid 4242 are known by number only: their names come back empty.
 *
 *   tirpc_daemons both|tcp|udp
 *
 * Registers both programs with the local portmapper on the transports
 * asked for, prints "ready tcp=PORT udp=PORT" and serves until SIGTERM,
 * when it unregisters them.
 */
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "pcnfsd_v2.h"

#define QELNFSD_PROG 0x2F00DBADu
#define QELNFSD_VERS 1u

void pcnfsdprog_2(struct svc_req* rqstp, SVCXPRT* transp);

struct user {
    const char* name;
    const char* password;
    int uid, gid;
    int ngids;
    int gids[2];
};
struct group {
    const char* name;
    int gid;
};

static const struct user users[] = {
    {"alice", "wonderland", 1001, 100, 2, {27, 1000}},
    {"bob", "builder", 1002, 100, 0, {0, 0}},
    {"root", "toor", 0, 0, 0, {0, 0}},
};
static const struct group groups[] = {{"users", 100}, {"sudo", 27}, {"staff", 1000}, {"wheel", 0}};
#define NUSERS (sizeof users / sizeof users[0])
#define NGROUP_ENTRIES (sizeof groups / sizeof groups[0])

static const struct user* userByName(const char* n) {
    for (size_t i = 0; i < NUSERS; ++i)
        if (strcmp(users[i].name, n) == 0) return &users[i];
    return NULL;
}
static const struct user* userByUid(int uid) {
    for (size_t i = 0; i < NUSERS; ++i)
        if (users[i].uid == uid) return &users[i];
    return NULL;
}
static const struct group* groupByName(const char* n) {
    for (size_t i = 0; i < NGROUP_ENTRIES; ++i)
        if (strcmp(groups[i].name, n) == 0) return &groups[i];
    return NULL;
}
static const struct group* groupByGid(int gid) {
    for (size_t i = 0; i < NGROUP_ENTRIES; ++i)
        if (groups[i].gid == gid) return &groups[i];
    return NULL;
}

/* ---------------- PCNFSD version 2 ---------------- */

void* pcnfsd2_null_2_svc(void* arg, struct svc_req* req) {
    static char nothing;
    (void)arg;
    (void)req;
    return &nothing;
}

#define MAXITEMS 64
static struct mapreq_res_item resItems[MAXITEMS];
static char resNames[MAXITEMS][IDENTLEN + 1];

v2_mapid_results* pcnfsd2_mapid_2_svc(v2_mapid_args* args, struct svc_req* req) {
    static v2_mapid_results res;
    (void)req;
    res.cm = "";
    res.res_list = NULL;
    struct mapreq_res_item** tail = &res.res_list;
    int n = 0;
    for (struct mapreq_arg_item* a = args->req_list; a != NULL && n < MAXITEMS; a = a->mapreq_next, ++n) {
        struct mapreq_res_item* r = &resItems[n];
        memset(r, 0, sizeof *r);
        r->req = a->req;
        r->stat = MAP_RES_UNKNOWN;
        r->id = a->id;
        resNames[n][0] = 0;
        const struct user* u;
        const struct group* g;
        switch (a->req) {
            case MAP_REQ_UID:
                if ((u = userByUid(a->id)) != NULL) r->stat = MAP_RES_OK, snprintf(resNames[n], sizeof resNames[n], "%s", u->name);
                break;
            case MAP_REQ_GID:
                if ((g = groupByGid(a->id)) != NULL) r->stat = MAP_RES_OK, snprintf(resNames[n], sizeof resNames[n], "%s", g->name);
                break;
            case MAP_REQ_UNAME:
                snprintf(resNames[n], sizeof resNames[n], "%s", a->name);
                if ((u = userByName(a->name)) != NULL) r->stat = MAP_RES_OK, r->id = u->uid;
                else r->id = -1;
                break;
            case MAP_REQ_GNAME:
                snprintf(resNames[n], sizeof resNames[n], "%s", a->name);
                if ((g = groupByName(a->name)) != NULL) r->stat = MAP_RES_OK, r->id = g->gid;
                else r->id = -1;
                break;
            default: r->stat = MAP_RES_DENIED; break;
        }
        r->name = resNames[n];
        *tail = r;
        tail = &r->mapreq_next;
    }
    return &res;
}

static void unscramble(const char* in, char* out, size_t size) {
    size_t i;
    for (i = 0; in[i] && i + 1 < size; ++i) out[i] = (char)((in[i] ^ 0x5B) & 0x7F);
    out[i] = 0;
}

v2_auth_results* pcnfsd2_auth_2_svc(v2_auth_args* args, struct svc_req* req) {
    static v2_auth_results res;
    static unsigned int gids[EXTRAGIDLEN];
    char name[IDENTLEN + 1], pw[PASSWORDLEN + 1];
    (void)req;
    unscramble(args->id, name, sizeof name);
    unscramble(args->pw, pw, sizeof pw);
    const struct user* u = userByName(name);
    memset(&res, 0, sizeof res);
    res.home = "";
    res.cm = "";
    if (u == NULL || strcmp(u->password, pw) != 0) {
        res.stat = AUTH_RES_FAIL;
        res.uid = res.gid = 0xFFFFFFFEu;
        return &res;
    }
    res.stat = AUTH_RES_OK;
    res.uid = (unsigned)u->uid;
    res.gid = (unsigned)u->gid;
    for (int i = 0; i < u->ngids; ++i) gids[i] = (unsigned)u->gids[i];
    res.gids.gids_len = (u_int)u->ngids;
    res.gids.gids_val = gids;
    res.home = "/home";
    res.def_umask = 022;
    return &res;
}

/* ---------------- Qelnfsd version 1 (hand-written XDR) ---------------- */

#define MAXNAMES 64
struct names_args {
    int count;
    char* names[MAXNAMES];
};
/* Names back to back, to the end of the arguments. */
static bool_t xdr_names_args(XDR* x, struct names_args* a) {
    if (x->x_op == XDR_FREE) {
        for (int i = 0; i < a->count; ++i) xdr_string(x, &a->names[i], 255);
        return TRUE;
    }
    a->count = 0;
    while (a->count < MAXNAMES) {
        char* s = NULL;
        if (!xdr_string(x, &s, 255)) break;
        a->names[a->count++] = s;
    }
    return TRUE;
}

#define MAXIDS 128
struct ids_args {
    u_int count;
    int ids[MAXIDS];
};
static bool_t xdr_ids_args(XDR* x, struct ids_args* a) {
    if (!xdr_u_int(x, &a->count) || a->count > MAXIDS) return FALSE;
    for (u_int i = 0; i < a->count; ++i)
        if (!xdr_int(x, &a->ids[i])) return FALSE;
    return TRUE;
}

struct authorize_args {
    u_int server;
    u_int constant;
    char* comment;
    char* cred;
    u_int credLen;
};
static bool_t xdr_authorize_args(XDR* x, struct authorize_args* a) {
    return xdr_u_int(x, &a->server) && xdr_u_int(x, &a->constant) && xdr_string(x, &a->comment, 255) &&
           xdr_bytes(x, &a->cred, &a->credLen, 64);
}

struct pair_results {
    int count;
    int pairs[MAXNAMES][2];
};
static bool_t xdr_pair_results(XDR* x, struct pair_results* r) {
    for (int i = 0; i < r->count; ++i)
        if (!xdr_int(x, &r->pairs[i][0]) || !xdr_int(x, &r->pairs[i][1])) return FALSE;
    return TRUE;
}

struct name_results {
    u_int count;
    char* names[MAXIDS];
};
static bool_t xdr_name_results(XDR* x, struct name_results* r) {
    for (u_int i = 0; i < r->count; ++i)
        if (!xdr_string(x, &r->names[i], 255)) return FALSE;
    return TRUE;
}

struct authorize_results {
    int words[4 + 16];
    int n;
};
static bool_t xdr_authorize_results(XDR* x, struct authorize_results* r) {
    for (int i = 0; i < r->n; ++i)
        if (!xdr_int(x, &r->words[i])) return FALSE;
    return TRUE;
}

static void qelnfsd_1(struct svc_req* req, SVCXPRT* t) {
    switch (req->rq_proc) {
        case 0:
            svc_sendreply(t, (xdrproc_t)xdr_void, NULL);
            return;
        case 3: {
            struct authorize_args a;
            memset(&a, 0, sizeof a);
            if (!svc_getargs(t, (xdrproc_t)xdr_authorize_args, (caddr_t)&a)) {
                svcerr_decode(t);
                return;
            }
            /* Undo the chained scrambling: 2 bytes, name NUL, password NUL. */
            char plain[65];
            unsigned char prev = 0xFF;
            u_int n = a.credLen < 64 ? a.credLen : 64;
            for (u_int i = 0; i < n; ++i) {
                unsigned char c = (unsigned char)a.cred[i];
                plain[i] = (char)(c ^ prev);
                prev = c;
            }
            plain[n] = 0;
            const char* name = n > 2 ? plain + 2 : "";
            const char* pw = n > 2 ? name + strlen(name) + 1 : "";
            if (pw > plain + n) pw = "";
            const struct user* u = userByName(name);
            struct authorize_results r;
            memset(&r, 0, sizeof r);
            if (u == NULL || strcmp(u->password, pw) != 0) {
                r.words[0] = 1, r.words[1] = -1, r.words[2] = -1, r.words[3] = 0, r.n = 4;
            } else {
                r.words[0] = 0, r.words[1] = u->uid, r.words[2] = u->gid, r.words[3] = u->ngids;
                for (int i = 0; i < u->ngids; ++i) r.words[4 + i] = u->gids[i];
                r.n = 4 + u->ngids;
            }
            svc_sendreply(t, (xdrproc_t)xdr_authorize_results, (caddr_t)&r);
            svc_freeargs(t, (xdrproc_t)xdr_authorize_args, (caddr_t)&a);
            return;
        }
        case 4:
        case 8: {
            struct names_args a;
            memset(&a, 0, sizeof a);
            if (!svc_getargs(t, (xdrproc_t)xdr_names_args, (caddr_t)&a)) {
                svcerr_decode(t);
                return;
            }
            struct pair_results r;
            r.count = a.count;
            for (int i = 0; i < a.count; ++i) {
                int id = -1;
                if (req->rq_proc == 4) {
                    const struct group* g = groupByName(a.names[i]);
                    if (g) id = g->gid;
                } else {
                    const struct user* u = userByName(a.names[i]);
                    if (u) id = u->uid;
                }
                r.pairs[i][0] = id == -1 ? 1 : 0;
                r.pairs[i][1] = id;
            }
            svc_sendreply(t, (xdrproc_t)xdr_pair_results, (caddr_t)&r);
            svc_freeargs(t, (xdrproc_t)xdr_names_args, (caddr_t)&a);
            return;
        }
        case 5:
        case 7: {
            struct ids_args a;
            memset(&a, 0, sizeof a);
            if (!svc_getargs(t, (xdrproc_t)xdr_ids_args, (caddr_t)&a)) {
                svcerr_decode(t);
                return;
            }
            struct name_results r;
            r.count = a.count;
            for (u_int i = 0; i < a.count; ++i) {
                const char* name = "";
                if (req->rq_proc == 5) {
                    const struct group* g = groupByGid(a.ids[i]);
                    if (g) name = g->name;
                } else {
                    const struct user* u = userByUid(a.ids[i]);
                    if (u) name = u->name;
                }
                r.names[i] = (char*)name;
            }
            svc_sendreply(t, (xdrproc_t)xdr_name_results, (caddr_t)&r);
            return;
        }
        default:
            svcerr_noproc(t);
            return;
    }
}

static int useTcp, useUdp;

static void unregister(void) {
    if (useTcp || useUdp) {
        pmap_unset(PCNFSDPROG, PCNFSDV2);
        pmap_unset(QELNFSD_PROG, QELNFSD_VERS);
    }
}

static void onTerm(int sig) {
    (void)sig;
    unregister();
    _exit(0);
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "both";
    useTcp = strcmp(mode, "udp") != 0;
    useUdp = strcmp(mode, "tcp") != 0;
    pmap_unset(PCNFSDPROG, PCNFSDV2);
    pmap_unset(QELNFSD_PROG, QELNFSD_VERS);
    int tcpPort = 0, udpPort = 0;
    if (useTcp) {
        SVCXPRT* t = svctcp_create(RPC_ANYSOCK, 0, 0);
        if (t == NULL || !svc_register(t, PCNFSDPROG, PCNFSDV2, pcnfsdprog_2, IPPROTO_TCP) ||
            !svc_register(t, QELNFSD_PROG, QELNFSD_VERS, qelnfsd_1, IPPROTO_TCP)) {
            fprintf(stderr, "tirpc_daemons: cannot serve TCP\n");
            return 1;
        }
        tcpPort = t->xp_port;
    }
    if (useUdp) {
        SVCXPRT* u = svcudp_create(RPC_ANYSOCK);
        if (u == NULL || !svc_register(u, PCNFSDPROG, PCNFSDV2, pcnfsdprog_2, IPPROTO_UDP) ||
            !svc_register(u, QELNFSD_PROG, QELNFSD_VERS, qelnfsd_1, IPPROTO_UDP)) {
            fprintf(stderr, "tirpc_daemons: cannot serve UDP\n");
            return 1;
        }
        udpPort = u->xp_port;
    }
    signal(SIGTERM, onTerm);
    signal(SIGINT, onTerm);
    printf("ready tcp=%d udp=%d\n", tcpPort, udpPort);
    fflush(stdout);
    svc_run();
    unregister();
    return 1;
}
