#!/usr/bin/env bash
# The layer check fails on each kind of climbing include, and passes a tree
# whose includes all go down.
set -euo pipefail
check="$1"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{platform/posix,comm,download,settings,ui,tools,tests/platform,tests/settings}

echo '#include "platform/posix/event_posix.h"' > "$tree/platform/posix/event_posix.cpp"
echo '#include "platform/posix/event_posix.h"' > "$tree/tests/platform/event_posix_test.cpp"
cat > "$tree/comm/channel.cpp" <<'SRC'
#include "platform/event.h"
#include "comm/channel.h"
#include <vector>
SRC
"$check" "$tree" || { echo "a sound tree was refused"; exit 1; }

expect_refused() {  # file, line, words the complaint must hold
  printf '%s\n' "$2" > "$tree/$1"
  if out=$("$check" "$tree" 2>&1); then
    echo "not refused: $1: $2"; exit 1
  fi
  grep -q "$3" <<<"$out" || { echo "unexpected complaint for $1: $out"; exit 1; }
  rm "$tree/$1"
}
expect_refused platform/event.h '#include "comm/channel.h"' 'platform/ includes comm/'
expect_refused settings/file.cpp '#include "download/thread.h"' 'settings/ includes download/'
expect_refused settings/file.cpp '#include "comm/com_port_name.h"' 'settings/ includes comm/'
expect_refused download/thread.cpp '#include <QObject>' 'download/ includes Qt'
expect_refused tools/flash.cpp '#include "ui/page2.h"' 'tools/ includes ui/'
expect_refused comm/port.cpp '#include <termios.h>' 'OS calls belong in platform/'
expect_refused comm/port.cpp '#include "platform/posix/event_posix.h"' 'private header of platform/'
expect_refused tests/settings/probe.cpp '#include "platform/win32/wide_text_win32.h"' 'private header of platform/'
echo "every climbing include was refused"
