#!/bin/sh
# SPDX-License-Identifier: MIT
# The second server of the authorisation tests, run by unshare in network
# and mount namespaces of its own: loopback up, a private /run, and, once
# the test has moved the veth end qelalt1 in, the address 10.213.0.2 on it;
# then the portmapper runs in the foreground (the test stops it by PID and
# starts daemons here with nsenter). Prints "namespace" once it runs in its
# own namespace and "ready" when it can serve.
ip link set lo up || exit 1
mount -t tmpfs tmpfs /run || exit 1
# The namespace exists now: the test may move the veth end in.
echo namespace
i=0
until ip link show qelalt1 >/dev/null 2>&1; do
    i=$((i + 1))
    [ "$i" -gt 500 ] && exit 1
    sleep 0.01
done
ip addr add 10.213.0.2/30 dev qelalt1 && ip link set qelalt1 up || exit 1
echo ready
exec /usr/sbin/rpcbind -f
