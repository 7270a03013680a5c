#!/usr/bin/env bash
# The Ansible example run as it stands against loopback simulators: two
# "sites" on this machine through the local connection, each loading two
# simulated controllers. The first play: site A's canary refuses the image
# (in its first session only), so its other controller is not started while
# site B loads both. The second play resumes: site A loads both, site B
# nothing. Exit 77 (skipped) only when ansible-playbook is missing.
# Usage: ansible_example.sh VORNIC_FLASH VORNIC_CONTROLLER_SIM EXAMPLE_DIR
set -euo pipefail
flash=$1
sim=$2
example=$3

if ! command -v ansible-playbook >/dev/null; then
  echo "ansible-playbook is not installed (scripts/setup installs ansible-core)"
  exit 77
fi

work=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --count 4 --port 0 --image "$work/got.bin" --write-targets "$work/all.txt" \
  --for 1 --fault-reply 0x02@3 --faulty-sessions 1 >"$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do
  [ "$(grep -c '^listening ' "$work/sim.out" || true)" -eq 4 ] && break
  sleep 0.1
done
[ "$(grep -c '^listening ' "$work/sim.out")" -eq 4 ] || { echo "the simulators did not start"; exit 1; }

mkdir "$work/targets"
sed -n 1,2p "$work/all.txt" >"$work/targets/site-a.txt"
sed -n 3,4p "$work/all.txt" >"$work/targets/site-b.txt"
head -c 70000 /dev/urandom >"$work/fw.bin"
cat >"$work/inventory.yml" <<INVENTORY
controller_sites:
  hosts:
    site-a:
    site-b:
  vars:
    ansible_connection: local
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
INVENTORY

export ANSIBLE_HOME="$work/ansible" ANSIBLE_LOCAL_TEMP="$work/ansible/tmp" ANSIBLE_NOCOLOR=1 \
  ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default
play() {
  ansible-playbook -i "$work/inventory.yml" "$example/flash-fleet.yml" \
    -e "vornic_image=$work/fw.bin" -e "vornic_targets_dir=$work/targets" \
    -e "vornic_reports_dir=$work/reports" -e "vornic_flash_bin=$flash" \
    -e "vornic_remote_dir=$work/remote/{{ inventory_hostname }}" "$@"
}

status=0
fail() { echo "FAIL: $*"; status=1; }
# A report's lines for one state, by the controller's name.
names() { grep "\"state\":\"$2\"" "$work/reports/$1.jsonl" | grep -o '"name":"sim-[0-9]*"' | tr -d '"' | sed 's/name://' | tr '\n' ' '; }

first=0
play >"$work/first.log" || first=$?
cat "$work/first.log"
[ "$first" -ne 0 ] || fail "the first play passed although site-a's canary failed"
grep -q 'some controllers at site-a failed' "$work/first.log" || fail "site-a was not marked failed"
[ "$(names site-a failed)" = "sim-1 " ] || fail "site-a: the canary sim-1 did not fail: $(cat "$work/reports/site-a.jsonl")"
[ "$(names site-a 'not started')" = "sim-2 " ] || fail "site-a: sim-2 was not held back by the canary"
grep -q '"reason":"canary failed"' "$work/reports/site-a.jsonl" || fail "site-a: no reason for sim-2"
[ "$(names site-b ok)" = "sim-3 sim-4 " ] || fail "site-b: not both loaded, the canary first: $(cat "$work/reports/site-b.jsonl")"

play -e vornic_resume=true || fail "the second play (the resume) failed"
[ "$(names site-a ok)" = "sim-1 sim-2 " ] || fail "site-a: the resume did not load both: $(cat "$work/reports/site-a.jsonl")"
[ "$(grep -c . "$work/reports/site-a.jsonl")" -eq 4 ] || fail "site-a: the resume did not add to the first report"
[ "$(names site-b 'already loaded')" = "sim-3 sim-4 " ] || fail "site-b: the resume loaded again: $(cat "$work/reports/site-b.jsonl")"

head -c 65536 "$work/fw.bin" >"$work/sent.bin"
for k in 1 2 3 4; do
  cmp -s "$work/sent.bin" "$work/got.bin.$k" || fail "controller $k holds another image"
done
kill "$sim_pid"; wait "$sim_pid" || true; sim_pid=""
# Each controller was loaded once, site A's canary once more after its refusal.
for expected in "1: .* sessions=2" "2: .* sessions=1" "3: .* sessions=1" "4: .* sessions=1"; do
  grep -q "^summary $expected\$" "$work/sim.out" || fail "the simulator did not see summary $expected: $(grep summary "$work/sim.out")"
done
[ "$status" -eq 0 ] && echo "the example loaded 4 controllers at 2 sites, site A after its canary failed and a resume"
exit "$status"
