#!/usr/bin/env bash
# A careful rollout on a simulated site with no hardware: builds the tool, writes a sample
# package into demo-fleet/ with the package maker, starts five simulated sensors, and runs
#   1. a check: what runs where, nothing sent;
#   2. the upgrade, each sensor verified after its restart;
#   3. a retry of what the record leaves to do, after the faulty sensor was fixed;
#   4. a check again.
# The sensors (each restarts 2 s after "shutdown"):
#   127.0.0.2           c2.0.8, already current: skipped
#   127.0.0.3           c2.0.1, which no update-list group holds: refused every time
#   127.0.0.4, .5       c2.0.7, restart with c2.0.8: upgraded and verified
#   127.0.0.6           c2.0.7, restarts with c2.0.7 still: failed; replaced before the retry
# Every 127.x.y.z is loopback on Linux, so each sensor owns port 50661. The records land in
# demo-fleet/*.jsonl, the images each sensor received in demo-fleet/received/ADDRESS/.
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
rm -rf ./*.jsonl received

declare -A pids
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
# start_sensor ADDRESS VERSION VERSION_AFTER_RESTART: returns once it listens.
start_sensor() {
  mkdir -p "received/$1"
  "$bin/tools/sensor_sim/corvalen-sensor-sim" --address "$1" --version "$2" \
    --restart-after 2 --version-after "$3" --record-dir "received/$1" \
    >> "received/$1/sensor.log" 2>&1 &
  pids[$1]=$!
  for _ in $(seq 100); do
    grep -q "simulated sensor on" "received/$1/sensor.log" && return 0
    kill -0 "${pids[$1]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "the simulated sensor on $1 did not start:" >&2
  cat "received/$1/sensor.log" >&2
  return 1
}
start_sensor 127.0.0.2 c2.0.8 c2.0.8
start_sensor 127.0.0.3 c2.0.1 c2.0.1
start_sensor 127.0.0.4 c2.0.7 c2.0.8
start_sensor 127.0.0.5 c2.0.7 c2.0.8
start_sensor 127.0.0.6 c2.0.7 c2.0.7

# step TITLE ARGUMENTS...: runs the tool, shows its exit code; 2 (bad arguments) ends the demo.
step() {
  echo
  echo "== $1"
  shift
  echo "\$ corvalen $*"
  local status=0
  QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bin/entry/corvalen" "$@" || status=$?
  echo "corvalen exited with $status (0: all done, 1: some sensor is not, 2: refused)"
  [ "$status" -le 1 ]
}
site=127.0.0.2-6
step "1. Check: what runs where (nothing is sent)" \
  --check --package package --config config --record check-before.jsonl "$site"
step "2. Upgrade, each sensor verified after its restart" \
  --package package --config config --verify 10 --record site.jsonl "$site"
echo
echo "Record (demo-fleet/site.jsonl), one line per sensor:"
cat site.jsonl

echo
echo "== The sensor on 127.0.0.6 is replaced by one that restarts with the new firmware"
kill "${pids[127.0.0.6]}"
wait "${pids[127.0.0.6]}" 2>/dev/null || true
start_sensor 127.0.0.6 c2.0.7 c2.0.8
step "3. Retry what the record leaves to do (127.0.0.3 and 127.0.0.6)" \
  --package package --config config --verify 10 --retry site.jsonl --record site.jsonl
step "4. Check again: every sensor but 127.0.0.3 runs c2.0.8" \
  --check --package package --config config --record check-after.jsonl "$site"
echo
echo "What an upgraded sensor received, e.g.: cmp demo-fleet/app.bin demo-fleet/received/127.0.0.4/1-app.bin"
