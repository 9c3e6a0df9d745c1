#!/usr/bin/env bash
# ctest's emulator for the Windows build's QtTest executables: runs one under Wine (wine-run.sh)
# with its log written to a file, then shows the log. Under Wine a test's own standard output
# never reaches the Linux side, so without this ctest would show nothing of a failure.
#   scripts/windows/wine-qtest.sh TEST.exe [TEST ARGS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp /tmp/korvel-wine-test-XXXXXX.txt)
trap 'rm -f "$log"' EXIT
program=$1
shift
"$here/wine-run.sh" "$program" -o "Z:${log//\//\\},txt" "$@"
status=$?
cat "$log"
exit $status
