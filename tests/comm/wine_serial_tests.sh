#!/usr/bin/env bash
# Runs the Windows serial tests under Wine beside the Linux-side broker that
# gives them their lines: wine_serial_tests.sh SIMULATOR COMMAND...
# SIMULATOR is the Linux vornic-controller-sim of the default build (the
# download cases fail without it, naming the reason); COMMAND runs the tests
# (scripts/wine-run serial_tests.exe).
set -euo pipefail

simulator="$1"
shift
# A prefix of its own, with its own wineserver: a line's hang-up must not
# reach the wineserver the other tests share. It must exist before the broker
# links lines into it.
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/vornic-wine-serial.XXXXXX")"
export WINEPREFIX
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
mkdir -p "$WINEPREFIX/dosdevices"
end_prefix() {
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}

args=()
[ -x "$simulator" ] && args=(--sim "$simulator")
coproc BROKER { exec python3 "$(dirname "$0")/wine_serial_broker.py" "${args[@]}"; }
broker_pid=$BROKER_PID
trap 'kill "$broker_pid" 2>/dev/null || true; wait "$broker_pid" 2>/dev/null || true; end_prefix' EXIT
read -r word address <&"${BROKER[0]}"
if [ "$word" != broker ]; then
  echo "wine_serial_tests: the broker did not start" >&2
  exit 1
fi
export VORNIC_SERIAL_BROKER="$address"
status=0
"$@" || status=$?
exit "$status"
