#!/usr/bin/env bash
# The Ansible role against three simulated sites on this machine: each site is a local
# inventory host with its own working directory as its gateway and its sensors on 127.0.N.x.
#   site1  127.0.1.2 c2.0.7, 127.0.1.3 c2.0.8 (current)
#   site2  127.0.2.2-3 (a range), both c2.0.7
#   site3  127.0.3.2 c2.0.7, 127.0.3.3 c2.0.1 (no update-list group holds it: refuses)
# The c2.0.7 ones restart with c2.0.8 after "shutdown"; the rollout verifies that.
# Check mode, the rollout, the same again, the report, and a broken package.
# Usage: test_ansible.sh CORVALEN SENSOR_SIM PACKAGE_MAKER
set -euo pipefail
# The sensors own port 50661 on loopback: in a network namespace of our own.
if [ "$(ip -o link show | wc -l)" -ne 1 ]; then
  isolate=-n
  [ "$(id -u)" -eq 0 ] || isolate=-rn
  exec unshare "$isolate" "$0" "$@"
fi
ip link set lo up

corvalen=$(realpath "$1") sensor_sim=$(realpath "$2") make_package=$(realpath "$3")
deploy=$(realpath "$(dirname "$0")/../../deploy/ansible")
tmp=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$tmp"' EXIT
cd "$tmp"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# start_sensor ADDRESS VERSION [OPTION...]: returns once it listens.
start_sensor() {
  mkdir -p "sensors/$1"
  "$sensor_sim" --address "$1" --version "$2" --record-dir "sensors/$1" "${@:3}" > "sensors/$1/log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -qs "simulated sensor on" "sensors/$1/log" && return 0
    sleep 0.1
  done
  fail "the simulated sensor on $1 did not start: $(cat "sensors/$1/log")"
}

# frames ADDRESS: the frames the sensor received since the last call.
frames() {
  cat "sensors/$1/frames.txt" 2>/dev/null || true
  rm -f "sensors/$1/frames.txt"
}

# only_readlog TIMES ADDRESS...: each sensor received "readlog" TIMES times and nothing else.
only_readlog() {
  local times=$1 address
  shift
  for address in "$@"; do
    received=$(frames "$address")
    [ "$received" = "$(yes readlog | head -n "$times")" ] ||
      fail "$address received: '$received', not readlog $times times"
  done
}

# play LOG EXPECTED_STATUS PLAYBOOK [ARGS...]: runs ansible-playbook into LOG.
play() {
  local log=$1 expected=$2 playbook=$3 status=0
  shift 3
  ansible-playbook -i inventory.yml "$deploy/$playbook" -e "corvalen_records_dir=$tmp/records" \
    "$@" > "$log" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "$log: exit $status, not $expected: $(cat "$log")"
}

# recap LOG HOST COUNTS: the play's recap line for HOST holds COUNTS (e.g. "changed=1").
recap() {
  for count in $3; do
    grep -Eq "^$2 +: .* $count( |$)" "$1" || fail "$1: $2 not $count: $(cat "$1")"
  done
}

# summary: records/summary.csv is standard input.
summary() {
  diff -u - records/summary.csv || fail "records/summary.csv differs"
}

export HOME=$tmp/home ANSIBLE_CONFIG=$tmp/ansible.cfg ANSIBLE_LOCAL_TEMP=$tmp/ansible/local \
  ANSIBLE_REMOTE_TEMP=$tmp/ansible/remote ANSIBLE_NOCOLOR=1 ANSIBLE_PIPELINING=1
mkdir home
touch ansible.cfg

head -c 300000 /dev/urandom > app.bin
printf 'site parameters\n' > params.txt
"$make_package" --out package --version c2.0.8 --update-list '{c2.0.7,c2.0.8};' \
  --config config app.bin:1 params.txt:0 > /dev/null

cat > inventory.yml <<INVENTORY
corvalen_sites:
  vars:
    ansible_connection: local
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    corvalen_binary: $corvalen
    corvalen_package: $tmp/package
    corvalen_config: $tmp/config
    corvalen_dir: "$tmp/gateways/{{ inventory_hostname }}"
    corvalen_verify: 20
  hosts:
    site1: {corvalen_sensors: [127.0.1.2, 127.0.1.3]}
    site2: {corvalen_sensors: [127.0.2.2-3], corvalen_jobs: 1}
    site3: {corvalen_sensors: [127.0.3.2, 127.0.3.3], corvalen_canary: 1, corvalen_max_failures: 1}
INVENTORY

outdated="127.0.1.2 127.0.2.2 127.0.2.3 127.0.3.2"
# The outdated ones restart with the package's version a second after "shutdown".
for address in $outdated; do
  start_sensor "$address" c2.0.7 --restart-after 1 --version-after c2.0.8
done
start_sensor 127.0.1.3 c2.0.8
start_sensor 127.0.3.3 c2.0.1
all="$outdated 127.0.1.3 127.0.3.3"
forbidden="error: update from c2.0.1 to c2.0.8 is forbidden"

# Check mode: nothing but "readlog" at any sensor; the sites with outdated sensors changed,
# the one with the refusing sensor failed.
play check.log 2 site.yml --check
recap check.log site1 "changed=1 failed=0"
recap check.log site2 "changed=1 failed=0"
recap check.log site3 "failed=1"
grep -q "127.0.3.3: refused: $forbidden" check.log || fail "check.log: no refused line"
# shellcheck disable=SC2086
only_readlog 1 $all
summary <<CSV
site,address,old,new,result,message
site1,127.0.1.2,c2.0.7,c2.0.8,outdated,
site1,127.0.1.3,c2.0.8,c2.0.8,current,
site2,127.0.2.2,c2.0.7,c2.0.8,outdated,
site2,127.0.2.3,c2.0.7,c2.0.8,outdated,
site3,127.0.3.2,c2.0.7,c2.0.8,outdated,
site3,127.0.3.3,c2.0.1,c2.0.8,refused,$forbidden
CSV

# An upgrade the tool refuses to start (exit 2) fails the site at once with the tool's error;
# the check's record is the site's.
play refused.log 2 site.yml --limit site1 -e corvalen_jobs=0
recap refused.log site1 "changed=0 failed=1"
grep -qF "error: --jobs takes a whole number of at least 1!" refused.log ||
  fail "refused.log: no error from the tool: $(cat refused.log)"
cmp records/site1.jsonl gateways/site1/check.jsonl || fail "site1's check record was not fetched"
only_readlog 1 127.0.1.2 127.0.1.3

# The rollout, verified after each restart, site3's first sensor as its canary: every
# outdated sensor holds the images byte for byte; site3 fails on its refusing sensor, naming
# it.
play rollout.log 2 site.yml
recap rollout.log site1 "changed=1 failed=0"
recap rollout.log site2 "changed=1 failed=0"
recap rollout.log site3 "failed=1"
grep -q "127.0.3.3: failed: $forbidden" rollout.log || fail "rollout.log: no failed line"
for address in $outdated; do
  if ! cmp app.bin "sensors/$address/1-app.bin" || ! cmp params.txt "sensors/$address/2-params.txt"; then
    fail "$address did not receive the package"
  fi
  frames "$address" > /dev/null
done
only_readlog 2 127.0.1.3 127.0.3.3
[ "$(find sensors -name '*-app.bin' | wc -l)" -eq 4 ] || fail "an image reached another sensor"
cmp records/site1.jsonl gateways/site1/run.jsonl || fail "site1's record was not fetched"
grep -q '"address":"127.0.1.2".*"verified_version":"c2.0.8"' records/site1.jsonl ||
  fail "127.0.1.2 was not verified: $(cat records/site1.jsonl)"
summary <<CSV
site,address,old,new,result,message
site1,127.0.1.2,c2.0.7,c2.0.8,upgraded,
site1,127.0.1.3,c2.0.8,c2.0.8,skipped,
site2,127.0.2.2,c2.0.7,c2.0.8,upgraded,
site2,127.0.2.3,c2.0.7,c2.0.8,upgraded,
site3,127.0.3.2,c2.0.7,c2.0.8,upgraded,
site3,127.0.3.3,c2.0.1,c2.0.8,failed,$forbidden
CSV

# The same rollout again changes nothing and sends nothing but "readlog".
play again.log 2 site.yml
recap again.log site1 "changed=0 failed=0"
recap again.log site2 "changed=0 failed=0"
recap again.log site3 "changed=0 failed=1"
# shellcheck disable=SC2086
only_readlog 1 $all
# The check after the rollout: nothing would change, though site1's sensors file is copied
# to its gateway again.
rm gateways/site1/sensors
play recheck.log 2 site.yml --check
recap recheck.log site1 "changed=0 failed=0"
recap recheck.log site2 "changed=0 failed=0"
[ -s gateways/site1/sensors ] || fail "the check did not stage site1's sensors file"
# shellcheck disable=SC2086
only_readlog 1 $all
rm records/summary.csv
play report.log 0 report.yml
summary <<CSV
site,address,old,new,result,message
site1,127.0.1.2,c2.0.8,c2.0.8,current,
site1,127.0.1.3,c2.0.8,c2.0.8,current,
site2,127.0.2.2,c2.0.8,c2.0.8,current,
site2,127.0.2.3,c2.0.8,c2.0.8,current,
site3,127.0.3.2,c2.0.8,c2.0.8,current,
site3,127.0.3.3,c2.0.1,c2.0.8,refused,$forbidden
CSV

# A broken package fails the first site before any sensor is dialled, and the rollout stops
# there.
cp -r package broken
rm broken/updatelist
play broken.log 2 site.yml -e "corvalen_package=$tmp/broken"
recap broken.log site1 "failed=1"
! grep -Eq "^site[23] " broken.log || fail "broken.log: the rollout went on: $(cat broken.log)"
grep -qF "error: updatelist open failed!" broken.log || fail "broken.log: no package error: $(cat broken.log)"
for address in $all; do
  [ -z "$(frames "$address")" ] || fail "$address was dialled with a broken package"
done
echo "test_ansible: passed"
