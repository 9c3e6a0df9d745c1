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
cd "$build" && ctest --output-on-failure "$@"
