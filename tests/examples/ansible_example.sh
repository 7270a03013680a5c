#!/usr/bin/env bash
# The Ansible example run as it stands against loopback simulators: two
# "sites" on this machine through the local connection, each loading two
# simulated controllers. Exit 77 (skipped) only when ansible-playbook is
# missing.
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

"$sim" --count 4 --port 0 --image "$work/got.bin" --write-targets "$work/all.txt" >"$work/sim.out" &
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
ansible-playbook -i "$work/inventory.yml" "$example/flash-fleet.yml" \
  -e "vornic_image=$work/fw.bin" -e "vornic_targets_dir=$work/targets" \
  -e "vornic_reports_dir=$work/reports" -e "vornic_flash_bin=$flash" \
  -e "vornic_remote_dir=$work/remote/{{ inventory_hostname }}"

status=0
for site in site-a site-b; do
  report="$work/reports/$site.jsonl"
  if [ "$(grep -c '"ok":true' "$report" 2>/dev/null || true)" -ne 2 ]; then
    echo "FAIL: $report does not hold two successful attempts"
    cat "$report" 2>/dev/null || true
    status=1
  fi
done
head -c 65536 "$work/fw.bin" >"$work/sent.bin"
for k in 1 2 3 4; do
  cmp -s "$work/sent.bin" "$work/got.bin.$k" || { echo "FAIL: controller $k holds another image"; status=1; }
done
[ "$status" -eq 0 ] && echo "the example loaded 4 controllers at 2 sites and fetched both reports"
exit "$status"
