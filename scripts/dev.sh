#!/usr/bin/env bash
# One command for a fresh Debian 12 machine (as root or with sudo):
#   scripts/dev.sh run    install what is missing, build, start the program on the instrument simulator
#   scripts/dev.sh test   install what is missing, build, run every test
#   scripts/dev.sh build  install what is missing and build
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVEL_BUILD_DIR:-$top/BUILD}"
cd "$top"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  while read -r pkg; do
    case "$pkg" in ''|'#'*) continue ;; esac
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < scripts/packages.txt
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_all() {
  local gen=()
  [ -f "$build/CMakeCache.txt" ] || gen=(-G Ninja)
  cmake -S "$top" -B "$build" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)"
}

case "${1:-}" in
  build)
    install_missing
    build_all
    ;;
  test)
    install_missing
    build_all
    cd "$build"
    ctest --output-on-failure -j"$(nproc)"
    ;;
  run)
    install_missing
    build_all
    # The instrument simulator stands in for the instrument as "Com 1" while the program runs.
    "$build/bin/korvel-sim" --register 1 >/dev/null &
    sim=$!
    trap 'kill "$sim" 2>/dev/null || true' EXIT
    sleep 0.3
    "$build/bin/korvel"
    ;;
  *)
    echo "usage: scripts/dev.sh run|test|build" >&2
    exit 2
    ;;
esac
