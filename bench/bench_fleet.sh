#!/usr/bin/env bash
# The fleet mode on a shaped site: in a private network namespace whose loopback (MTU 1500) is
# shaped to 1 Gbit/s, simulated sensors on 127.0.0.2 ... each read at 12.5 MB/s (a 100 Mbit/s
# sensor) and each get the same image. Three sites, each measured against a raw copy of the
# same bytes to the same sensors (bench_raw_copy) in the same run, next to its goal:
#   a  12 sensors x 32 MiB, --jobs 12: the whole run against the raw parallel copy; the fleet's
#      transfer alone; the raw copies one after another; the healthy sensors' times when one
#      sensor among them stalls mid-image;
#   b  96 sensors x 4 MiB, default options: the whole run against the raw copy 8 at a time;
#   c  250 sensors x 256 KiB, default options: the whole run, and the raw copy 8 at a time.
# Each also prints the tool's peak memory growth, over an --inspect of the same package, per
# open link (every sensor's link is open at once on these sites). Then the checks, the
# failures and the cap, each beside its reference in the same run:
#   d  --check --package over 762 current sensors, default options, against an upgrade run
#      that skips them all;
#   e  --check over a /22 where nothing answers (every connection's queue full: SYNs
#      unanswered), against the 3 s connect wait;
#   f  an upgrade over 2,044 addresses that refuse at once, its CPU against 8,176 such
#      addresses (linear: 4 times), and the exit after SIGTERM while 8,176 connects wait;
#   g  --check of 100 sensors answering 20 MB logs: the tool's peak memory;
#   h  12 sensors x 8 MiB with --max-rate 10M: the streaming time, and the most bytes the
#      loopback carried in any 1 s window.
#     bench/bench_fleet.sh [a|b|c|d|e|f|g|h ...]      (default all)
# Needs root (unshare -n, tc), /usr/bin/time (package "time") and a build with
# -DCORVALEN_BUILD_BENCH=ON (BUILD_DIR picks it; default build).
set -euo pipefail
self=$(realpath "$0")
cd "$(dirname "$self")/.."
if [ -z "${BENCH_FLEET_NETNS:-}" ]; then
  exec unshare -n env BENCH_FLEET_NETNS=1 "$self" "$@"
fi
build=$(realpath "${BUILD_DIR:-build}")
corvalen=$build/entry/corvalen
sim=$build/tools/sensor_sim/corvalen-sensor-sim
raw_copy=$build/bench/bench_raw_copy
for program in "$corvalen" "$sim" "$raw_copy" /usr/bin/time; do
  [ -x "$program" ] || { echo "missing $program" >&2; exit 1; }
done
export QT_QPA_PLATFORM=offscreen

ip link set lo up
ip link set lo mtu 1500
tc qdisc add dev lo root tbf rate 1gbit burst 1mb latency 50ms

work=$(mktemp -d)
pids=()
stop_sensors() {
  [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
  [ ${#pids[@]} -eq 0 ] || wait "${pids[@]}" 2>/dev/null || true
  pids=()
}
trap 'stop_sensors; rm -rf "$work"' EXIT

# How fast the sensors read images; a site that streams nothing leaves it out, since hundreds of
# throttled sensors would take the cores from the tool.
sim_rate=(--read-rate 12500000)

# start_sensors [STALLING_ADDRESS]: fresh sensors (they keep what they receive in memory), the
# one named stopping after 1 MiB of its image; returns once all listen.
start_sensors() {
  stop_sensors
  local address extra
  for address in "${addresses[@]}"; do
    extra=()
    [ "$address" = "${1:-}" ] && extra=(--stall-after $((1 << 20)))
    "$sim" --address "$address" --version c2.0.7 "${sim_rate[@]}" "${extra[@]}" \
      > "$work/sensor-$address.log" 2>&1 &
    pids+=($!)
  done
  for address in "${addresses[@]}"; do
    for _ in $(seq 300); do
      grep -q "simulated sensor on" "$work/sensor-$address.log" && continue 2
      sleep 0.1
    done
    echo "the sensor on $address did not start:" >&2
    cat "$work/sensor-$address.log" >&2
    exit 1
  done
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# run_fleet RECORD EXIT_CODE [OPTION...]: the fleet run's milliseconds; the tool's peak RSS (kB)
# lands in $work/rss. Fails, showing the tool's lines, on another exit code.
run_fleet() {
  local start status=0 record=$1 code=$2
  shift 2
  rm -f "$record"
  start=$(now_ms)
  /usr/bin/time -f %M -o "$work/time" "$corvalen" --package "$work/pkg" --config "$work/config" \
    "$@" --record "$record" "${addresses[@]}" > "$work/fleet.out" 2> "$work/fleet.log" ||
    status=$?
  echo $(($(now_ms) - start))
  tail -n 1 "$work/time" > "$work/rss"
  [ "$status" -eq "$code" ] && return
  echo "fleet run: exit code $status, not $code" >&2
  cat "$work/fleet.log" >&2
  return 1
}

# healthy_mean RECORD: the mean seconds of every sensor but the last, which may have stalled.
healthy_mean() {
  grep -v "\"${addresses[-1]}\"" "$1" |
    sed -E 's/"files" *: *\[[^]]*\]//; s/.*"seconds" *: *([0-9.eE+-]+).*/\1/' |
    awk '{ sum += $1; n++ } END { if (n) printf "%.3f", sum / n }'
}

# raw_total [--streams N]: the raw copy's milliseconds in all.
raw_total() {
  local out
  out=$("$raw_copy" "$@" "$work/image.bin:1" "${addresses[@]}") ||
    { echo "raw copy failed:" >&2; echo "$out" >&2; return 1; }
  awk '/^total/ { print $2 }' <<< "$out"
}

# transfer_ms RECORD: the longest time any sensor spent on its files (download to the image's
# acknowledgement): the fleet's transfer, without the connect and the log read every sensor
# does first, in parallel.
transfer_ms() {
  python3 -c 'import json, sys
print(round(1000 * max(sum(f["seconds"] for f in json.loads(l)["files"]) for l in open(sys.argv[1]))))' "$1"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# site COUNT KIB NAME: COUNT sensors' addresses and a package of one KIB KiB image.
site() {
  count=$1
  kib=$2
  addresses=()
  for i in $(seq 2 $((count + 1))); do
    addresses+=("127.0.$((i / 250)).$((i % 250 + 2))")
  done
  rm -rf "$work/pkg" "$work/config"
  head -c $((kib << 10)) /dev/urandom > "$work/image.bin"
  "$build/tools/package_maker/corvalen-make-package" --out "$work/pkg" --version c2.0.8 \
    --update-list '{c2.0.7,c2.0.8};' --config "$work/config" "$work/image.bin:1" > /dev/null
  /usr/bin/time -f %M -o "$work/rss" "$corvalen" --inspect "$work/pkg" --config "$work/config" \
    > /dev/null 2>&1
  inspect_rss=$(cat "$work/rss")
  printf '\nsite %s: %d sensors, image %d KiB each, loopback 1 Gbit/s, sensors read 12.5 MB/s\n' \
    "$3" "$count" "$kib"
}

# memory_line: the fleet run's peak memory growth over the --inspect, per open link.
memory_line() {
  printf 'peak RSS: fleet %d kB, inspect %d kB\n' "$fleet_rss" "$inspect_rss"
  printf 'memory growth per open link        %8d kB   goal <= 1024 kB\n' \
    $(((fleet_rss - inspect_rss) / count))
}

site_a() {
  site 12 32768 a
  start_sensors
  raw_parallel=$(raw_total)
  start_sensors
  raw_sequential=$(raw_total --streams 1)
  start_sensors
  fleet=$(run_fleet "$work/healthy.jsonl" 0 --jobs 12)
  fleet_rss=$(cat "$work/rss")
  start_sensors "${addresses[-1]}"
  run_fleet "$work/stalled.jsonl" 1 --jobs 12 > /dev/null
  healthy=$(healthy_mean "$work/healthy.jsonl")
  beside_stall=$(healthy_mean "$work/stalled.jsonl")
  transfer=$(transfer_ms "$work/healthy.jsonl")
  printf 'fleet run                          %8d ms   (with the package check, connect and log read)\n' "$fleet"
  printf 'fleet transfer                     %8d ms   (longest files time of a sensor)\n' "$transfer"
  printf 'raw parallel copy                  %8d ms\n' "$raw_parallel"
  printf 'raw copies one after another       %8d ms\n' "$raw_sequential"
  printf 'fleet run - raw parallel           %8d ms   goal <= 3500 ms\n' $((fleet - raw_parallel))
  printf 'fleet run / raw parallel           %8s\n' "$(ratio "$fleet" "$raw_parallel")"
  printf 'fleet transfer / raw parallel      %8s      goal <= 1.10\n' \
    "$(ratio "$transfer" "$raw_parallel")"
  printf 'fleet / one after another          %8s\n' "$(ratio "$fleet" "$raw_sequential")"
  memory_line
  printf 'healthy sensors, mean              %8s s  without a stalled sensor\n' "$healthy"
  printf 'healthy sensors, mean              %8s s  beside one stalled sensor\n' "$beside_stall"
  printf 'change                             %8s %%    goal within 5 %%\n' \
    "$(awk -v a="$healthy" -v b="$beside_stall" 'BEGIN { printf "%+.1f", (b - a) * 100 / a }')"
}

# site_of_many NAME COUNT KIB NOTE: the fleet with default options against the raw copy 8 at a
# time; NOTE follows the fleet run's time.
site_of_many() {
  site "$2" "$3" "$1"
  start_sensors
  raw8=$(raw_total --streams 8)
  start_sensors
  fleet=$(run_fleet "$work/healthy.jsonl" 0)
  fleet_rss=$(cat "$work/rss")
  printf 'fleet run                          %8d ms   %s\n' "$fleet" "$4"
  printf 'raw copy, 8 at a time              %8d ms\n' "$raw8"
  printf 'fleet run / raw copy               %8s\n' "$(ratio "$fleet" "$raw8")"
}

site_b() {
  site_of_many b 96 4096 "(with the package check, connect and log read)"
  printf '(fleet run - 3.5 s) / raw copy     %8s      goal <= 1.15\n' \
    "$(ratio $((fleet - 3500)) "$raw8")"
  memory_line
}

site_c() {
  site_of_many c 250 256 "goal <= 15000 ms"
  memory_line
}

# timed_tool OUT [ARGUMENT...]: the tool's milliseconds, its exit code ignored; peak RSS (kB),
# user and system seconds in $work/time.
timed_tool() {
  local start out=$1
  shift
  start=$(now_ms)
  /usr/bin/time -f '%M %U %S' -o "$work/time" "$corvalen" "$@" > "$out" 2>&1 || true
  echo $(($(now_ms) - start))
}

cpu_seconds() { tail -n 1 "$work/time" | awk '{ printf "%.2f", $2 + $3 }'; }

site_d() {
  site 762 64 d
  local sim_rate=()
  start_sensors
  local skip check
  # The reference: an upgrade run where every sensor is already at the package version.
  "$build/tools/package_maker/corvalen-make-package" --out "$work/pkg7" --version c2.0.7 \
    --update-list '{c2.0.7,c2.0.8};' --config "$work/config7" "$work/image.bin:1" > /dev/null
  skip=$(timed_tool "$work/skip.log" --package "$work/pkg7" --config "$work/config7" \
    "${addresses[@]}")
  check=$(timed_tool "$work/check.log" --check --package "$work/pkg7" --config "$work/config7" \
    "${addresses[@]}")
  grep -q '762 sensors: 762 current' "$work/check.log" || { tail -3 "$work/check.log" >&2; exit 1; }
  printf 'check of 762 current sensors       %8d ms   goal <= 6000 ms\n' "$check"
  printf 'upgrade run skipping them all      %8d ms\n' "$skip"
  printf 'check / skipping run               %8s\n' "$(ratio "$check" "$skip")"
}

# start_unanswering: a simulated sensor on every address that never answers a connect.
start_unanswering() {
  stop_sensors
  "$sim" --address 0.0.0.0 --unanswered > "$work/unanswered.log" 2>&1 &
  pids+=($!)
  sleep 1
}

site_e() {
  printf '\nsite e: --check over 127.0.64.0/22 (1,022 addresses), no connect answered\n'
  start_unanswering
  local check
  check=$(timed_tool "$work/dead.log" --check 127.0.64.0/22)
  grep -q '1022 empty addresses' "$work/dead.log" || { tail -3 "$work/dead.log" >&2; exit 1; }
  printf 'check of a dead /22                %8d ms   goal <= 8000 ms\n' "$check"
  printf 'check / connect wait (3000 ms)     %8s\n' "$(ratio "$check" 3000)"
  stop_sensors
}

site_f() {
  printf '\nsite f: an upgrade over addresses that refuse at once\n'
  site 1 64 f > /dev/null
  local ranges=() i small small_cpu large_cpu start
  for i in 0 4; do ranges+=("127.0.$((72 + i)).0/22"); done
  small=$(timed_tool "$work/refused.log" --package "$work/pkg" --config "$work/config" "${ranges[@]}")
  small_cpu=$(cpu_seconds)
  for i in 8 12 16 20 24 28; do ranges+=("127.0.$((72 + i)).0/22"); done
  timed_tool "$work/refused8k.log" --package "$work/pkg" --config "$work/config" "${ranges[@]}" \
    > /dev/null
  large_cpu=$(cpu_seconds)
  printf 'upgrade over 2,044 refusing        %8d ms   goal <= 5000 ms\n' "$small"
  printf 'CPU 2,044 / 8,176 addresses        %5s s / %s s, ratio %s   goal about 4 (linear)\n' \
    "$small_cpu" "$large_cpu" "$(ratio "$large_cpu" "$small_cpu")"
  # The signal while 8,176 links wait for connects that are never answered.
  start_unanswering
  "$corvalen" --package "$work/pkg" --config "$work/config" "${ranges[@]}" > /dev/null 2>&1 &
  local tool=$!
  sleep 1.5
  start=$(now_ms)
  kill -TERM "$tool"
  wait "$tool" || true
  printf 'exit after SIGTERM among 8,176     %8d ms   goal <= 1000 ms\n' $(($(now_ms) - start))
  stop_sensors
}

site_g() {
  site 100 64 g
  # 2 GB of logs: unshaped, or 1 Gbit/s would take longer than the log read's deadline.
  tc qdisc del dev lo root
  printf 'log: 20 MB each, loopback unshaped\n'
  head -c 20000000 /dev/zero | tr '\0' 'x' > "$work/log.txt"
  printf ' lidar firmware version c2.0.8\n' >> "$work/log.txt"
  stop_sensors
  for address in "${addresses[@]}"; do
    "$sim" --address "$address" --log-file "$work/log.txt" > "$work/sensor-$address.log" 2>&1 &
    pids+=($!)
  done
  sleep 2
  local check
  check=$(timed_tool "$work/logs.log" --check --package "$work/pkg" --config "$work/config" \
    "${addresses[@]}")
  grep -q '100 sensors: 100 current' "$work/logs.log" || { tail -3 "$work/logs.log" >&2; exit 1; }
  printf 'check of 100 x 20 MB logs          %8d ms\n' "$check"
  printf 'peak RSS                           %8d kB   goal <= 262144 kB (inspect %d kB)\n' \
    "$(tail -n 1 "$work/time" | cut -d' ' -f1)" "$inspect_rss"
  stop_sensors
  tc qdisc add dev lo root tbf rate 1gbit burst 1mb latency 50ms
}

# lo_peak_window LOG: the most bytes the loopback carried in any 1 s window of its samples
# (one every 0.1 s: "milliseconds bytes").
lo_peak_window() {
  awk '{ t[NR] = $1; b[NR] = $2 } END {
    j = 1; best = 0
    for (i = 1; i <= NR; i++) {
      while (t[i] - t[j] > 1000) j++
      if (b[i] - b[j] > best) best = b[i] - b[j]
    }
    printf "%.2f", best / 1e6 }' "$1"
}

site_h() {
  site 12 8192 h
  start_sensors
  : > "$work/lo.log"
  # /proc/net/dev is this namespace's (sysfs would show the host's).
  (while :; do echo "$(now_ms) $(awk '$1 == "lo:" { print $10 }' /proc/net/dev)"; sleep 0.1; done) \
    >> "$work/lo.log" &
  local sampler=$! fleet
  fleet=$(run_fleet "$work/capped.jsonl" 0 --jobs 12 --max-rate 10M)
  kill "$sampler"
  wait "$sampler" 2>/dev/null || true
  printf 'fleet run, --max-rate 10M          %8d ms\n' "$fleet"
  printf 'streaming time (longest files)     %8d ms   goal 9600 ... 10600 ms\n' \
    "$(transfer_ms "$work/capped.jsonl")"
  printf 'most bytes on lo in 1 s            %8s MB   goal <= 11 MB\n' \
    "$(lo_peak_window "$work/lo.log")"
}

sites=("$@")
[ ${#sites[@]} -gt 0 ] || sites=(a b c d e f g h)
for each in "${sites[@]}"; do
  case $each in
    a | b | c | d | e | f | g | h) "site_$each" ;;
    *) echo "usage: bench/bench_fleet.sh [a|b|c|d|e|f|g|h ...]" >&2; exit 2 ;;
  esac
done
