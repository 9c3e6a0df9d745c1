#!/usr/bin/env bash
# The Windows build's test executables under Wine (ctest runs each through wine-run.sh), with a
# Linux PostgreSQL server on 127.0.0.1 for the server library's tests:
#   scripts/windows/wine-tests.sh WINDOWS_BUILD [CTEST ARGS...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift
# shellcheck source=linux-pg.sh
. "$here/linux-pg.sh"
trap pg_stop EXIT
if pg_start; then
  export KORVEL_TEST_PG_PORT="$pg_port" KORVEL_TEST_PG_PASSWORD="$pg_password"
else
  echo "wine-tests: $pg_error; the server library's tests fail without it" >&2
fi
# The windows' tests open "Com 1" and others as they would an unplugged adapter. Under Wine a COM
# port is the machine's /dev/ttyS0 and so on, and Wine 8 answers QSerialPort's first wait on a real
# UART by blocking the window's thread until a line event that never comes: the tests' ports lead
# nowhere instead (the roads map COM1 to the simulator themselves).
for n in 1 2 3 4 5 6 7 8 9; do
  "$here/wine-run.sh" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "/nonexistent/korvel-test-com$n" /f >/dev/null 2>&1
done
WINEPREFIX="${KORVEL_WINE_PREFIX:-$here/../../BUILD-windows/wine}" wineserver -k >/dev/null 2>&1
# Left out here for now, for what was seen under Wine 8: test_shell and test_frm_library pass every
# case, but now and then (one run in four) their process does not end: the MinGW C++ run-time's
# end of process waits on a thread the ending cut off. Their windows' own library threads are
# waited for at the end now; what thread is still cut off is not yet known.
cd "$build" && ctest --output-on-failure -E '^(test_shell|test_frm_library)$' "$@"
