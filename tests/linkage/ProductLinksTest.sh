#!/usr/bin/env bash
# ProductLinksTest.sh links REPORT: fails when the configure step found a product library or
# program linking a simulator or test library (one "product -> library" line each).
# ProductLinksTest.sh symbols NM PROGRAM...: fails when an installed program holds a class or
# function of the simulator, the test doubles or the demo walk.
set -euo pipefail

case $1 in
links)
  report=$2
  [ -f "$report" ] || { echo "FAIL: no report $report (configure again)" >&2; exit 1; }
  if [ -s "$report" ]; then
    echo "FAIL: the product links test code:" >&2
    cat "$report" >&2
    exit 1
  fi
  ;;
symbols)
  nm=$2
  shift 2
  # One name of each piece of simulator, test-double and demo code.
  names='TAfSimLine|TAfSimComDevice|TKvxSimModule|TKvxSimDevice|TInProcessChannel|TScriptedPeer|TSimPty|TKVXChannelTransactor|TKVXPauseObserver|EncodeSetupStream|EncodeWatchStream|TRecordingMainServices|SetDebugLogClock|SetDebugLogDirectory|DebugLogFileName|StartDemoWalk|DemoScreenshotDir'
  status=0
  for program in "$@"; do
    [ -x "$program" ] || { echo "FAIL: $program is not built" >&2; exit 1; }
    symbols=$("$nm" -C "$program")
    [ -n "$symbols" ] || { echo "FAIL: $program has no symbols to look at" >&2; exit 1; }
    found=$(echo "$symbols" | grep -E -o "$names" | sort -u || true)
    if [ -n "$found" ]; then
      echo "FAIL: $(basename "$program") holds: $(echo "$found" | tr '\n' ' ')" >&2
      status=1
    fi
  done
  exit $status
  ;;
*)
  echo "usage: $0 links REPORT | symbols NM PROGRAM..." >&2
  exit 2
  ;;
esac
