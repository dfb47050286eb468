#!/usr/bin/env bash
# Runs bench_upgrade inside a private network namespace whose loopback (MTU 1500) is shaped
# to a link rate, so the upgrade and the raw copy share one link that nothing else uses.
#   bench/bench_link.sh RATE IMAGE_MIB     RATE: a tc rate such as 100mbit or 1gbit, or "none"
#   BURST=... sets the token bucket (default 64kb; a fast rate wants more than a timer tick's
#   worth, e.g. 1mb for 1gbit).
# Needs root (unshare -n, tc) and a build with -DCORVALEN_BUILD_BENCH=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
rate=${1:-100mbit}
mib=${2:-16}
bench=${BUILD_DIR:-build}/bench/bench_upgrade
shape="tc qdisc add dev lo root tbf rate $rate burst ${BURST:-64kb} latency 50ms"
[ "$rate" = none ] && shape=true
export QT_QPA_PLATFORM=offscreen
exec unshare -n sh -c "ip link set lo up && ip link set lo mtu 1500 && $shape && exec $bench $mib"
