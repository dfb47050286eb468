#!/usr/bin/env bash
# Upgrades a simulated site with no hardware: builds the tool, writes a sample package into
# demo-fleet/ with the package maker, starts five simulated sensors and runs the fleet mode:
#   127.0.0.2           c2.0.8, already current: skipped
#   127.0.0.3           c2.0.1, which no update-list group holds: refuses the package (failed)
#   127.0.0.4 .. .6     c2.0.7: upgraded
# Every 127.x.y.z is loopback on Linux, so each sensor owns port 50661. The record lands in
# demo-fleet/record.jsonl, the images each sensor received in demo-fleet/received/ADDRESS/.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/build.sh"
bin=$PWD/build
mkdir -p demo-fleet
cd demo-fleet
if [ ! -d package ]; then
  head -c 300000 /dev/urandom > app.bin
  printf 'demo firmware parameters\n' > params.txt
  "$bin/tools/package_maker/corvalen-make-package" --out package --version c2.0.8 \
    --update-list '{c2.0.7,c2.0.8};' --config config app.bin:1 params.txt:0
fi
rm -rf record.jsonl received

pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
# start_sensor ADDRESS VERSION: returns once it listens, fails if it cannot.
start_sensor() {
  mkdir -p "received/$1"
  "$bin/tools/sensor_sim/corvalen-sensor-sim" --address "$1" --version "$2" \
    --record-dir "received/$1" > "received/$1/sensor.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q "simulated sensor on" "received/$1/sensor.log" && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "the simulated sensor on $1 did not start:" >&2
  cat "received/$1/sensor.log" >&2
  return 1
}
start_sensor 127.0.0.2 c2.0.8
start_sensor 127.0.0.3 c2.0.1
for address in 127.0.0.4 127.0.0.5 127.0.0.6; do
  start_sensor "$address" c2.0.7
done

echo "Fleet mode on five simulated sensors:"
status=0
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/app/corvalen" --package package \
  --config config --record record.jsonl 127.0.0.2 127.0.0.3 127.0.0.4 127.0.0.5 127.0.0.6 ||
  status=$?
echo
echo "Record (demo-fleet/record.jsonl), one line per sensor:"
cat record.jsonl
echo
echo "What an upgraded sensor received, e.g.: cmp demo-fleet/app.bin demo-fleet/received/127.0.0.4/1-app.bin"
# 1 is expected: the sensor on 127.0.0.3 refuses the package.
echo "corvalen exited with $status (0: all upgraded or skipped, 1: a sensor failed, 2: refused)"
[ "$status" -le 1 ]
