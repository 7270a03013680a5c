#!/usr/bin/env bash
# Takes the screenshots in res/screenshots/: the Communication tab at first
# start, the Operation tab during a download to the simulator, and the About
# box. Runs the built tool under Xvfb (with openbox for the window frames when
# it is installed). Needs xvfb, xdotool and ImageMagick; build first.
# Usage: res/take_screenshots.sh [build folder, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
out=$PWD/res/screenshots

if [ "${TAKE_SCREENSHOTS_INNER:-}" != 1 ]; then
  mkdir -p "$out"
  TAKE_SCREENSHOTS_INNER=1 exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

work=$(mktemp -d)
sim=
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  pkill -P $$ openbox 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Openbox draws the buttons of its title layout whatever a window allows; the
# tool's window allows neither minimising nor maximising, so only Close.
if command -v openbox >/dev/null; then
  cat >"$work/openbox.xml" <<'XML'
<?xml version="1.0"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><titleLayout>NLC</titleLayout></theme>
</openbox_config>
XML
  openbox --config-file "$work/openbox.xml" >/dev/null 2>&1 &
  sleep 1
fi

cp "$build/app/vornic-updater" "$work/"
cd "$work"

# The window frame, with its caption, when a window manager draws one.
shot() {
  local window=$1 file=$2
  sleep 0.6
  import -frame -window "$window" "$out/$file"
  echo "take_screenshots: $out/$file"
}

start_tool() {
  ./vornic-updater >/dev/null 2>&1 &
  tool=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Vornic_v0\.2$' | head -1)
  xdotool windowfocus --sync "$window"
}

stop_tool() {
  xdotool windowfocus --sync "$window" key Escape
  timeout 10 tail --pid="$tool" -f /dev/null || kill "$tool"
}

# First start: no Config.ini, the Communication tab with the defaults.
start_tool
shot "$window" communication.png
# The About box, from the window's context menu.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 12 $((HEIGHT - 12)) click 3
sleep 0.5
xdotool mousemove_relative 20 8 click 1
about=$(timeout 10 xdotool search --sync --onlyvisible --name '^关于$' | head -1)
shot "$about" about.png
xdotool windowfocus --sync "$about" key Escape
stop_tool

# A download to the simulator, at about half way.
"$OLDPWD/$build/tools/controller_sim/vornic-controller-sim" --port 0 >sim.log 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q '^listening ' sim.log && break; sleep 0.1; done
port=$(sed -n 's/^listening 127\.0\.0\.1:\([0-9]*\)$/\1/p' sim.log)
printf '[Set]\r\nCommWay=1\r\ncom=0\r\nIPAddr=2130706433\r\nPortNo=%d\r\ntcpReadTimeO=3000' \
  $(( port > 32767 ? port - 65536 : port )) >Config.ini
head -c 65536 /dev/urandom >firmware.bin
start_tool
xdotool key Tab Left Tab Tab
xdotool type --delay 5 "$PWD/firmware.bin"
xdotool key Return
sleep 2.3
shot "$window" operation.png
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^vornic-updater$' | head -1)
xdotool windowfocus --sync "$box" key Return
stop_tool
