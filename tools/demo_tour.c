/*
 * A short tour of the library against the reference daemon on loopback:
 * portmapper look-ups, null calls, name and id mapping through PCNFSD and
 * Qelnfsd. The daemon and the portmapper are started by ./run demo.
 */
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>

#include "qelrpc.h"

static int failures = 0;

static void show(const char* what, int rc) {
    printf("  %-58s %s", what, rc == 0 ? "ok" : "FAILED");
    if (rc != 0) {
        printf(" (status %d)", rc);
        failures++;
    }
    printf("\n");
}

static void printNames(const char* label, const char* list, unsigned count) {
    printf("      %s:", label);
    for (unsigned i = 0; i < count; i++) {
        printf(" %s", list);
        list += strlen(list) + 1;
    }
    printf("\n");
}

int main(void) {
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    RpcOperation op;

    printf("\nPortmapper look-ups (TCP port 111 of 127.0.0.1)\n");
    rpcInitOperationEx(&op, "127.0.0.1", loopback);
    int rc = GetProgramPort(&op, PCNFSD_PROGRAM, PCNFSD_VERSION, 0);
    show("PCNFSD version 2", rc);
    if (rc == 0) printf("      TCP port %u, UDP port %u\n", op.tcpPort, op.udpPort);
    rpcCloseOperation(&op);
    rpcInitOperationEx(&op, "127.0.0.1", loopback);
    rc = GetProgramPort(&op, QELNFSD_PROGRAM, QELNFSD_VERSION, 0);
    show("Qelnfsd version 1", rc);
    if (rc == 0) printf("      TCP port %u\n", op.tcpPort);

    printf("\nNull calls\n");
    rpcCreateAuthNull(&op);
    for (int i = 0; i < 3; i++) {
        rc = rpcPrepareRPCHeader(&op, 0);
        InitDataBuffer(&op.request);
        if (rc == 0) rc = CallRPC(&op, 0);
        char what[64];
        snprintf(what, sizeof what, "Qelnfsd NULL over TCP, call %d", i + 1);
        show(what, rc);
    }
    rpcCloseOperation(&op);

    printf("\nName and id mapping through PCNFSD (one MAPID call per question)\n");
    rpcInitOperationEx(&op, "127.0.0.1", loopback);
    rpcCreateAuthUnix(&op, NULL, 0, 0);
    rc = GetProgramPort(&op, PCNFSD_PROGRAM, PCNFSD_VERSION, 0);
    int32_t uids[3];
    if (rc == 0) rc = PcnfsdGetUidsFromUNames(&op, 0, 0, 3, "alice\0bob\0nobody-here\0", uids);
    show("user names alice, bob, nobody-here to uids", rc);
    if (rc == 0) printf("      uids: %d %d %d\n", uids[0], uids[1], uids[2]);
    int32_t gids[2] = {100, 27};
    char names[3 * 256];
    rc = PcnfsdGetGNamesFromGids(&op, 1, 0, 2, names, gids);
    show("gids 100, 27 to group names", rc);
    if (rc == 0) printNames("groups", names, 2);

    printf("\nName and id mapping through Qelnfsd\n");
    RpcOperation q;
    memset(&q, 0, sizeof q);
    q.hostAddr = loopback;
    int32_t ask[3] = {1001, 0, 4242};
    rc = PerformQelnfsdReqUid(&q, 1, 1, 3, ask, names);
    show("uids 1001, 0, 4242 to user names (4242 is unknown)", rc);
    if (rc == 0) printNames("users (the list ends at the unknown id)", names, 2);
    int32_t gid = 0;
    memset(&q, 0, sizeof q);
    q.hostAddr = loopback;
    rc = PerformQelnfsdGroupName(&q, 1, 1, "staff", &gid);
    show("group name staff to gid", rc);
    if (rc == 0) printf("      gid: %d\n", gid);

    printf("\n%s\n", failures == 0 ? "Tour finished: every step answered." : "Tour finished with failures.");
    return failures == 0 ? 0 : 1;
}
