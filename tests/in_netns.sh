#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a test program in network, host-name and mount namespaces of its own:
# only loopback is up, the host name is "localhost" (so the host's own
# address is 127.0.0.1), and /run is a private tmpfs (so a portmapper the
# test starts has its own socket and lock files). Nothing the test sends can
# leave this machine, and well-known ports such as 111 are the test's own.
exec unshare --net --uts --mount --propagation private sh -c \
    'ip link set lo up && hostname localhost && mount -t tmpfs tmpfs /run && exec "$0" "$@"' "$@"
