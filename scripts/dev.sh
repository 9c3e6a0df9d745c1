#!/usr/bin/env bash
# One command for a fresh Debian 12 machine (as root or with sudo):
#   scripts/dev.sh run    install what is missing, build, start the program on the instrument simulator
#   scripts/dev.sh test   install what is missing, build, run every test
#   scripts/dev.sh build  install what is missing and build
#   scripts/dev.sh package-check
#                         build the Debian package, check its contents, install it with apt, try the
#                         installed programs, and remove it again (also when a check fails)
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

# The package as an owner gets it: built by cpack, installed by apt, run from /usr/bin.
pkg_scratch=""
pkg_sim=""
package_cleanup() {
  [ -z "$pkg_sim" ] || kill "$pkg_sim" 2>/dev/null || true
  [ -z "$pkg_scratch" ] || rm -rf "$pkg_scratch"
  if dpkg-query -W -f='${Status}' korvel 2>/dev/null | grep -q 'ok installed'; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq korvel >/dev/null 2>&1
  fi
}

package_check() {
  # The package is removed again at the end, whatever happens.
  trap package_cleanup EXIT
  pkg_scratch=$(mktemp -d)
  local log="$pkg_scratch/log"
  (cd "$build" && rm -f korvel_*.deb && cpack -G DEB) >"$log" 2>&1 || { cat "$log" >&2; return 1; }
  local debs=("$build"/korvel_*.deb)
  local deb=${debs[0]}
  echo "== $(basename "$deb")"

  local listing path
  listing=$(dpkg-deb -c "$deb")
  for path in ./usr/lib/korvel/korvel ./usr/lib/korvel/korvel-cli ./usr/lib/korvel/korvel-sim \
      ./usr/lib/korvel/init.B ./usr/lib/korvel/example.S19 ./usr/lib/korvel/flight_short.txt \
      "./usr/bin/korvel -> ../lib/korvel/korvel" "./usr/bin/korvel-cli -> ../lib/korvel/korvel-cli" \
      "./usr/bin/korvel-sim -> ../lib/korvel/korvel-sim" ./usr/share/applications/korvel.desktop \
      ./usr/share/icons/hicolor/scalable/apps/korvel.svg ./usr/share/man/man1/korvel-cli.1.gz; do
    grep -qF " $path" <<<"$listing" || { echo "the package lacks $path" >&2; return 1; }
  done
  dpkg-deb -f "$deb" Depends | grep -q 'libqt6core6' || { echo "no dependencies from shlibdeps" >&2; return 1; }
  dpkg-deb -x "$deb" "$pkg_scratch/root"
  desktop-file-validate "$pkg_scratch/root/usr/share/applications/korvel.desktop"

  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$log" 2>&1 ||
    { cat "$log" >&2; return 1; }
  korvel-cli --help | grep -q '^  dump \[--count\] FILE$'
  local count
  count=$(korvel-cli dump --count /usr/lib/korvel/flight_short.txt 2>"$log") || { cat "$log" >&2; return 1; }
  [ "$count" = '{"count":200}' ] || { echo "korvel-cli dump --count said: $count" >&2; return 1; }

  # Through the link in bin/ the programs find their own folder: the burn sends init.B from there.
  export XDG_CONFIG_HOME="$pkg_scratch/config"
  korvel-sim --image "$pkg_scratch/image.bin" >"$pkg_scratch/sim.txt" 2>/dev/null &
  pkg_sim=$!
  local i
  for i in $(seq 50); do [ -s "$pkg_scratch/sim.txt" ] && break; sleep 0.1; done
  korvel-cli flash --port "$(head -1 "$pkg_scratch/sim.txt")" --speed 2 /usr/lib/korvel/example.S19 \
    </dev/null 2>"$log" && grep -qx 'done: Finished' "$log" || { tail -5 "$log" >&2; return 1; }

  # The window program starts and keeps running until it is stopped.
  local rc=0
  xvfb-run -a timeout 5 korvel >"$log" 2>&1 || rc=$?
  [ "$rc" -eq 124 ] || { cat "$log" >&2; echo "korvel ended by itself (status $rc)" >&2; return 1; }
  package_cleanup
  echo "== installed, tried and removed again"
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
  package-check)
    install_missing
    build_all
    package_check
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
    echo "usage: scripts/dev.sh run|test|build|package-check" >&2
    exit 2
    ;;
esac
