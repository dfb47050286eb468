#!/usr/bin/env bash
# Takes the README's pictures into docs/: the site window after a check (site-checked.png) and
# mid-run (site-running.png), and the window of one sensor (window.png), against simulated
# sensors on 127.0.0.2 and on, on a display of its own (Xvfb). Run as root it takes them in a
# network namespace of its own, so nothing else on the machine can answer on those addresses.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/build.sh"
mkdir -p docs
take="xvfb-run -a -s '-screen 0 1366x768x24' build/tools/screenshots/corvalen-screenshots docs"
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then
  unshare -n sh -c "ip link set lo up && $take"
else
  sh -c "$take"
fi
