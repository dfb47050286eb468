#!/usr/bin/env bash
# Builds the tool, writes a sample package and settings file, starts the
# simulated sensor on 127.0.0.1 and opens the tool in demo/.
# In the window: type 127.0.0.1, press "connect", pick demo/package with
# "Browse" (or type its path), press "Upgrade".
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/build.sh"
bin=$PWD/build
mkdir -p demo
cd demo
if [ ! -d package ]; then
  head -c 300000 /dev/urandom > app.bin
  printf 'demo firmware parameters\n' > params.txt
  "$bin/tools/package_maker/corvalen-make-package" --out package --version c2.0.8 \
    --update-list '{c2.0.7,c2.0.8};' --config config app.bin:1 params.txt:0
fi
mkdir -p received
"$bin/tools/sensor_sim/corvalen-sensor-sim" --port 50661 --version c2.0.7 --record-dir received &
sensor=$!
trap 'kill $sensor 2>/dev/null || true' EXIT
echo "Simulated sensor on 127.0.0.1:50661; images it receives land in demo/received/."
echo "Package: $PWD/package"
"$bin/entry/corvalen"
