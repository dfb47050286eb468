#!/usr/bin/env bash
# The Ansible role against three simulated sites on this machine: each site is a local
# inventory host with its own working directory as its gateway and its sensors on 127.0.N.x.
#   site1  127.0.1.2 c2.0.7, 127.0.1.3 c2.0.8 (current)
#   site2  127.0.2.2-3 (a range), both c2.0.7
#   site3  127.0.3.2 c2.0.7, 127.0.3.3 c2.0.1 (no update-list group holds it: refuses)
# The c2.0.7 ones restart with c2.0.8 after "shutdown"; the rollout verifies that. The package
# holds a dotfile. As root the tool runs as a user made for the test.
# A check of fresh gateways with a dead address at site1, an upgrade the tool refuses to
# start, the rollout, the same again, a check after it, the reports, a full record disk, bad
# variables, and a broken package.
# Usage: test_ansible.sh CORVALEN SENSOR_SIM PACKAGE_MAKER
set -euo pipefail
# The sensors own port 50661 on loopback: in a network namespace of our own; in a mount
# namespace of our own for the test's user and the full disk.
if [ -z "${TEST_ANSIBLE_ISOLATED:-}" ]; then
  export TEST_ANSIBLE_ISOLATED=1
  isolate=-nm
  [ "$(id -u)" -eq 0 ] || isolate=-rnm
  exec unshare "$isolate" "$0" "$@"
fi
ip link set lo up

corvalen=$(realpath "$1") sensor_sim=$(realpath "$2") make_package=$(realpath "$3")
deploy=$(realpath "$(dirname "$0")/../../deploy/ansible")
tmp=$(mktemp -d)
chmod 755 "$tmp"
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

# play LOG EXPECTED_STATUS PLAYBOOK [ARGS...]: runs ansible-playbook into LOG; run is then
# the run it made or the newest.
play() {
  local log=$1 expected=$2 playbook=$3 status=0 start=$SECONDS
  shift 3
  ansible-playbook -i inventory.yml "$deploy/$playbook" -e "corvalen_records_dir=$tmp/records" \
    "$@" > "$log" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "$log: exit $status, not $expected: $(cat "$log")"
  run=$(readlink records/latest || true)
  echo "$log: $((SECONDS - start)) s"
}

# recap LOG HOST COUNTS: the play's recap line for HOST holds COUNTS (e.g. "changed=1").
recap() {
  for count in $3; do
    grep -Eq "^$2 +: .* $count( |$)" "$1" || fail "$1: $2 not $count: $(cat "$1")"
  done
}

# in_log LOG TEXT...: LOG holds each TEXT.
in_log() {
  local log=$1 text
  shift
  for text in "$@"; do
    grep -qF -- "$text" "$log" || fail "$log: no '$text': $(cat "$log")"
  done
}

# summary: the run's summary.csv, without its last column (when each sensor started, which
# must be a UTC time) and with the run in the column before, is standard input.
summary() {
  local csv=records/$run/summary.csv expected
  [ -f "$csv" ] || fail "no $csv"
  expected=$(sed "2,\$s/\$/,$run/")
  sed 's/,[^,]*$//' "$csv" | diff -u <(echo "$expected") - || fail "$csv differs"
  [ -z "$(sed 1d "$csv" | grep -Ev ',20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9:]{8}Z$')" ] ||
    fail "$csv: a sensor without its start time: $(cat "$csv")"
}

# gateways: every file and folder of the gateways, with size, time and owner.
gateways() {
  find gateways -printf '%p %s %T@ %u %m\n' | sort
  find scratch -mindepth 1
}

# Ansible's temporary files on the "gateways", for either user.
export HOME=$tmp/home ANSIBLE_CONFIG=$tmp/ansible.cfg ANSIBLE_LOCAL_TEMP=$tmp/ansible/local \
  ANSIBLE_REMOTE_TEMP=$tmp/remote ANSIBLE_NOCOLOR=1 ANSIBLE_PIPELINING=1
mkdir home gateways
mkdir -m 1777 remote
touch ansible.cfg

# The tool's user: as root, one that exists in this mount namespace only.
if [ "$(id -u)" -eq 0 ] && [ "$(wc -l < /proc/self/uid_map)" -eq 1 ] &&
  [ "$(awk '{print $3}' /proc/self/uid_map)" -gt 1 ]; then
  user=corvalen-test
  uid=$(awk -F: '{used[$3]} END {for (id = 61000; id in used; id++); print id}' /etc/passwd /etc/group)
  { cat /etc/passwd; echo "$user:x:$uid:$uid:test_ansible:$tmp/user-home:/bin/sh"; } > passwd
  { cat /etc/group; echo "$user:x:$uid:"; } > group
  (umask 077 && echo "$user:!:1::::::" > shadow)
  for file in passwd group shadow; do mount --bind "$file" "/etc/$file"; done
  mkdir user-home
  chown "$user:" user-home
  user_vars="corvalen_user: $user, ansible_become_method: su"
else
  user=$(id -un)
  user_vars="corvalen_user: $user, ansible_become: false"
  echo "test_ansible: not run as root, so the tool runs as whoever runs the test: the unprivileged user is not tested"
fi
mkdir -m 1777 scratch

head -c 300000 /dev/urandom > app.bin
printf 'site parameters\n' > params.txt
"$make_package" --out package --version c2.0.8 --update-list '{c2.0.7,c2.0.8};' \
  --config config app.bin:1 params.txt:0 > /dev/null
printf 'notes of whoever made the package\n' > package/.notes

cat > inventory.yml <<INVENTORY
corvalen_sites:
  vars: {ansible_connection: local, ansible_python_interpreter: "{{ ansible_playbook_python }}",
    $user_vars, corvalen_tmp: $tmp/scratch, corvalen_binary: $corvalen,
    corvalen_package: $tmp/package, corvalen_config: $tmp/config,
    corvalen_dir: "$tmp/gateways/{{ inventory_hostname }}", corvalen_verify: 20}
  hosts:
    site1: {corvalen_sensors: "{{ site1_sensors | default(['127.0.1.2', '127.0.1.3']) }}"}
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
dead="error: connect DAE failed with IP 127.0.1.9!"

# Check mode on fresh gateways, with a dead address at the first site: nothing but "readlog"
# at any sensor, every site checked, no file left on any gateway; what would change shows as
# changed, with its diff; the sites with a dead or refusing sensor fail.
before=$(gateways)
play check.log 2 site.yml --check --diff -e '{"site1_sensors": ["127.0.1.2", "127.0.1.3", "127.0.1.9"]}'
[ "$(gateways)" = "$before" ] || fail "the check changed the gateways: $(gateways)"
recap check.log site1 "failed=1"
recap check.log site2 "changed=[1-9][0-9]* failed=0"
recap check.log site3 "failed=1"
in_log check.log "127.0.1.9: unreachable: $dead" "127.0.3.3: refused: $forbidden" \
  "+127.0.2.2-3"
# shellcheck disable=SC2086
only_readlog 1 $all
[[ $run == *Z-check ]] || fail "the check's run is named $run"
checked=$run
summary <<CSV
site,address,old,new,result,message,run
site1,127.0.1.2,c2.0.7,c2.0.8,outdated,
site1,127.0.1.3,c2.0.8,c2.0.8,current,
site1,127.0.1.9,,c2.0.8,unreachable,$dead
site2,127.0.2.2,c2.0.7,c2.0.8,outdated,
site2,127.0.2.3,c2.0.7,c2.0.8,outdated,
site3,127.0.3.2,c2.0.7,c2.0.8,outdated,
site3,127.0.3.3,c2.0.1,c2.0.8,refused,$forbidden
CSV

# An upgrade the tool refuses to start (exit 2) fails the site at once with the tool's error;
# the record holds the check's lines. Under --limit the run still gets its summary.
play refused.log 2 site.yml --limit site1 -e corvalen_jobs=0
recap refused.log site1 "failed=1"
in_log refused.log "error: --jobs takes a whole number of at least 1!"
cmp "records/$run/site1.jsonl" "gateways/site1/records/$run.jsonl" ||
  fail "site1's record was not fetched"
[[ $run == *Z-rollout ]] || fail "the rollout's run is named $run"
summary <<CSV
site,address,old,new,result,message,run
site1,127.0.1.2,c2.0.7,c2.0.8,outdated,
site1,127.0.1.3,c2.0.8,c2.0.8,current,
CSV
only_readlog 1 127.0.1.2 127.0.1.3

# The rollout, verified after each restart, site3's first sensor as its canary: every
# outdated sensor holds the images byte for byte; site3 fails on its refusing sensor, naming
# it. The tool ran as its user, who owns the record.
play rollout.log 2 site.yml
recap rollout.log site1 "changed=1 failed=0"
recap rollout.log site2 "changed=[1-9][0-9]* failed=0"
recap rollout.log site3 "failed=1"
in_log rollout.log "127.0.3.3: failed: $forbidden"
for address in $outdated; do
  if ! cmp app.bin "sensors/$address/1-app.bin" || ! cmp params.txt "sensors/$address/2-params.txt"; then
    fail "$address did not receive the package"
  fi
  frames "$address" > /dev/null
done
only_readlog 2 127.0.1.3 127.0.3.3
[ "$(find sensors -name '*-app.bin' | wc -l)" -eq 4 ] || fail "an image reached another sensor"
for site in site1 site2 site3; do
  cmp "records/$run/$site.jsonl" "gateways/$site/records/$run.jsonl" || fail "$site's record was not fetched"
  owner=$(stat -c %U "gateways/$site/records/$run.jsonl")
  [ "$owner" = "$user" ] || fail "the tool ran as $owner at $site, not as $user"
done
grep -q '"address":"127.0.1.2".*"verified_version":"c2.0.8"' "records/$run/site1.jsonl" ||
  fail "127.0.1.2 was not verified: $(cat "records/$run/site1.jsonl")"
summary <<CSV
site,address,old,new,result,message,run
site1,127.0.1.2,c2.0.7,c2.0.8,upgraded,
site1,127.0.1.3,c2.0.8,c2.0.8,skipped,
site2,127.0.2.2,c2.0.7,c2.0.8,upgraded,
site2,127.0.2.3,c2.0.7,c2.0.8,upgraded,
site3,127.0.3.2,c2.0.7,c2.0.8,upgraded,
site3,127.0.3.3,c2.0.1,c2.0.8,failed,$forbidden
CSV
rolled_out=$run
cp -r "records/$run" rollout-records

# The same rollout again changes nothing (the package's dotfile stays) and sends nothing but
# "readlog". With a lower bound on failures the second batch (site2, site3) now stops the
# rollout: site2 fails for site3.
play again.log 2 site.yml -e corvalen_max_fail_percentage=40
recap again.log site1 "changed=0 failed=0"
recap again.log site2 "changed=0 failed=1"
recap again.log site3 "changed=0 failed=1"
in_log again.log "1 of 2 sites of this batch failed (site3), more than 40 %: the rollout stops"
[ -f gateways/site1/package/.notes ] || fail "the package's dotfile is gone"
# shellcheck disable=SC2086
only_readlog 1 $all

# The check after the rollout touches no gateway: site1's sensors file, removed, stays
# missing, and site1 shows the copy it would make as its change. Site1 lists one sensor:
# its record is one line.
rm gateways/site1/sensors
before=$(gateways)
play recheck.log 0 site.yml --check --limit site1,site2 -e '{"site1_sensors": ["127.0.1.3"]}'
[ "$(gateways)" = "$before" ] || fail "the check changed the gateways: $(diff <(echo "$before") <(gateways))"
recap recheck.log site1 "changed=1 failed=0"
recap recheck.log site2 "changed=0 failed=0"
only_readlog 0 127.0.1.2
only_readlog 1 127.0.1.3 127.0.2.2 127.0.2.3

# Two checks and the rollouts: a folder each, the rollout's records intact there and on the
# gateways, where each run appended its own record.
[ "$(find records -mindepth 1 -maxdepth 1 -type d | wc -l)" -eq 5 ] ||
  fail "not five runs: $(ls records)"
diff -r rollout-records "records/$rolled_out" || fail "the rollout's records changed"
[ "$(ls gateways/site1/records | wc -l)" -eq 3 ] || fail "site1 lacks a run's record: $(ls gateways/site1/records)"
for record in gateways/site1/records/*; do
  cmp "$record" "records/$(basename "$record" .jsonl)/site1.jsonl" || fail "$record changed"
done

# The reports: the newest run's summary, and the rollout's again.
rm "records/$run/summary.csv" "records/$rolled_out/summary.csv"
play report.log 0 report.yml
summary <<CSV
site,address,old,new,result,message,run
site1,127.0.1.3,c2.0.8,c2.0.8,current,
site2,127.0.2.2,c2.0.8,c2.0.8,current,
site2,127.0.2.3,c2.0.8,c2.0.8,current,
CSV
play report.log 0 report.yml -e "run=$rolled_out"
cmp rollout-records/summary.csv "records/$rolled_out/summary.csv" || fail "the rollout's summary differs"
play report.log 2 report.yml -e "run=$checked-none"
in_log report.log "no run $checked-none in $tmp/records"

# A full disk at site2's gateway: its record loses every line, and the site fails.
if mount -t tmpfs -o "size=16k,mode=0755,uid=$(id -u "$user")" tmpfs gateways/site2/records 2> /dev/null; then
  dd if=/dev/zero of=gateways/site2/records/fill bs=4k 2> /dev/null || true
  play full.log 2 site.yml --limit site2
  umount gateways/site2/records
  recap full.log site2 "failed=1"
  in_log full.log "127.0.2.2: no line in the record" "127.0.2.3: no line in the record" \
    "error: cannot write record $tmp/gateways/site2/records/$run.jsonl: No space left on device"
  frames 127.0.2.2 > /dev/null
  frames 127.0.2.3 > /dev/null
else
  echo "test_ansible: no tmpfs can be mounted here: the full disk is not tested"
fi

# Variables of the wrong type are refused before anything is staged.
play string.log 2 site.yml --limit site1 -e corvalen_sensors=127.0.1.2
in_log string.log "set corvalen_sensors (a list of addresses and ranges, not a string)"
play number.log 2 site.yml --limit site1 -e corvalen_verify=long
in_log number.log "argument 'corvalen_verify' is of type <class 'str'> and we were unable to convert to int"

# A broken package fails the first site before any sensor is dialled, and the rollout stops
# there.
cp -r package broken
rm broken/updatelist
play broken.log 2 site.yml -e "corvalen_package=$tmp/broken"
recap broken.log site1 "failed=1"
! grep -Eq "^site[23] " broken.log || fail "broken.log: the rollout went on: $(cat broken.log)"
in_log broken.log "error: updatelist open failed!"
for address in $all; do
  [ -z "$(frames "$address")" ] || fail "$address was dialled with a broken package"
done
echo "test_ansible: passed"
