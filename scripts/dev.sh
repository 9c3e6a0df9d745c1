#!/usr/bin/env bash
# One command for a fresh Debian 12 machine (as root or with sudo):
#   scripts/dev.sh run    install what is missing, build, start the program on the instrument simulator
#   scripts/dev.sh test   install what is missing, build, run every test
#   scripts/dev.sh build  install what is missing and build
#   scripts/dev.sh package-check
#                         build the Debian package, check its contents, install it with apt, try the
#                         installed programs, and remove it again (also when a check fails)
#   scripts/dev.sh windows
#                         cross-build for 64-bit Windows (BUILD-windows/), run its tests and its
#                         korvel-cli's roads under Wine, make the setup program and the zip, and
#                         install, try and remove them under Wine; the two parts on their own:
#   scripts/dev.sh windows-roads      the Windows korvel-cli's roads under Wine, beside the Linux one's
#   scripts/dev.sh windows-package    the setup program and the zip, installed and removed under Wine
# The checked builds (clang, AddressSanitizer + UndefinedBehaviorSanitizer, libFuzzer), in their
# own folder (BUILD-checked) so the ordinary build stays as it is:
#   scripts/dev.sh sanitize               build checked, run every test
#   scripts/dev.sh fuzz SECONDS [TARGET]  build checked, run each fuzz target (or the one named) SECONDS
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="${KORVEL_BUILD_DIR:-$top/BUILD}"
checked="${KORVEL_CHECKED_BUILD_DIR:-$top/BUILD-checked}"
cd "$top"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Another install (an unattended upgrade, a second shell) may hold the package manager's lock for
# a while: wait for it, up to lock_wait seconds, instead of failing. apt waits for the dpkg lock
# itself; the lock of its package lists is retried here.
lock_wait="${KORVEL_APT_LOCK_WAIT:-300}"
apt_get() {
  local deadline=$((SECONDS + lock_wait)) err rc said=
  err=$(mktemp)
  while :; do
    rc=0
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout="$lock_wait" "$@" 2>"$err" || rc=$?
    if [ "$rc" -ne 0 ] && grep -qE 'Could not get lock|Unable to (lock|acquire)' "$err" && [ "$SECONDS" -lt "$deadline" ]; then
      [ -n "$said" ] || echo "Waiting for the package manager's lock (another install holds it)..." >&2
      said=1
      sleep 5
      continue
    fi
    cat "$err" >&2
    rm -f "$err"
    return "$rc"
  done
}

install_missing() {
  local list="${1:-scripts/packages.txt}"
  local missing=()
  while read -r pkg; do
    case "$pkg" in ''|'#'*) continue ;; esac
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < "$list"
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# A compiler cache, where one is installed, makes a rebuild of unchanged sources cheap.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build_all() {
  local gen=()
  [ -f "$build/CMakeCache.txt" ] || gen=(-G Ninja)
  cmake -S "$top" -B "$build" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)"
}

# One configure serves the sanitizer run and the fuzz targets.
build_checked() {
  install_missing
  install_missing scripts/packages-checked.txt
  local gen=()
  [ -f "$checked/CMakeCache.txt" ] || gen=(-G Ninja)
  CC=clang-14 CXX=clang++-14 cmake -S "$top" -B "$checked" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DKORVEL_SANITIZE=ON -DKORVEL_FUZZ=ON >/dev/null
  cmake --build "$checked" -j"$(nproc)" "$@"
}

fuzz_targets=(fuzz_hex fuzz_srec fuzz_brec fuzz_capture fuzz_echo fuzz_loader)

# Seeds: the target's own cases in fuzz/seeds/TARGET (where it has some), and the sample files that suit it.
seed_dirs() {
  echo "$top/fuzz/seeds/$1"
  case "$1" in
    fuzz_srec | fuzz_brec) echo "$checked/fuzz/examples" ;;
    fuzz_loader) echo "$checked/fuzz/flights" ;;
    fuzz_capture) echo "$checked/fuzz/capture" ;;
  esac
}

# The capture target's input: each chunk as a length byte and its bytes; a 0 byte arms a new file.
# Here a chunk is a line of a sample file, as the instrument's line often delivers them.
as_chunks() {
  local line esc
  while IFS= read -r line || [ -n "$line" ]; do
    line="${line:0:254}"$'\n'
    printf -v esc '\\x%02x' "${#line}"
    printf '%b%s' "$esc" "$line"
  done
}

capture_seeds() {
  local dir="$checked/fuzz/capture" flight cal
  mkdir -p "$dir"
  flight=$(head -n 4 "$top/examples/flight_short.txt"; tail -n 1 "$top/examples/flight_short.txt")
  # A calibration record ends with its fifth END.
  cal=$(cat "$top/examples/calibration.txt"; printf 'END\r\nEND\r\nEND\r\nEND\r\n')
  LC_ALL=C as_chunks <<<"$flight" >"$dir/flight"
  LC_ALL=C as_chunks <<<"$cal" >"$dir/calibration"
  { printf 'noise before the record\r\n'; echo "$flight"; printf 'after\r\n'; } | LC_ALL=C as_chunks >"$dir/two_files"
  { printf '\0'; LC_ALL=C as_chunks <<<"$cal"; } >>"$dir/two_files"
}

run_fuzz() {
  local seconds=$1; shift
  local targets=("$@")
  [ ${#targets[@]} -gt 0 ] || targets=("${fuzz_targets[@]}")
  build_checked --target "${targets[@]}"
  mkdir -p "$checked/fuzz/examples" "$checked/fuzz/findings"
  cp "$top"/examples/*.S19 "$top"/examples/*.B "$checked/fuzz/examples/"
  # Flights: the short samples, and one whose data line runs past 64 KiB.
  mkdir -p "$checked/fuzz/flights"
  cp "$top"/examples/flight_short.txt "$top"/examples/calibration.txt "$checked/fuzz/flights/"
  { printf 'FLIGHT\r\n12/04/26 10:00:00,1,2\r\n12/04/26 10:00:06'; head -c 70000 /dev/zero | tr '\0' 7
    printf ',9\r\nEND\r\n'; } >"$checked/fuzz/flights/long_line.txt"
  capture_seeds
  local failed=0 t
  for t in "${targets[@]}"; do
    local corpus="$checked/fuzz/corpus/$t"
    mkdir -p "$corpus"
    local seeds=()
    while read -r d; do [ -d "$d" ] && seeds+=("$d"); done < <(seed_dirs "$t")
    echo "== $t: ${seconds} s"
    local maxlen=()
    [ "$t" = fuzz_loader ] && maxlen=(-max_len=200000)
    if ! ASAN_OPTIONS=detect_leaks=1 "$checked/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 "${maxlen[@]}" \
        -artifact_prefix="$checked/fuzz/findings/$t-" "$corpus" "${seeds[@]}" >"$checked/fuzz/$t.log" 2>&1; then
      failed=1
      tail -n 60 "$checked/fuzz/$t.log"
      echo "== $t: FINDING (input kept in $checked/fuzz/findings/)"
    else
      grep -E '^Done [0-9]+ runs' "$checked/fuzz/$t.log" | tail -n 1
    fi
  done
  return $failed
}

# The package as an owner gets it: built by cpack, installed by apt, run from /usr/bin.
pkg_scratch=""
pkg_sim=""
pkg_ours=""
package_cleanup() {
  # The simulator saves its image as it ends: let it finish before its folder goes.
  if [ -n "$pkg_sim" ]; then
    kill "$pkg_sim" 2>/dev/null || true
    wait "$pkg_sim" 2>/dev/null || true
    pkg_sim=
  fi
  [ -z "$pkg_scratch" ] || rm -rf "$pkg_scratch"
  # Only the package this check installed is removed: never one the user installed.
  if [ -n "$pkg_ours" ] && dpkg-query -W -f='${Status}' korvel 2>/dev/null | grep -q 'ok installed'; then
    apt_get purge -y -qq korvel >/dev/null 2>&1
  fi
  pkg_ours=
}

package_check() {
  if dpkg-query -W -f='${Status}' korvel 2>/dev/null | grep -q 'ok installed'; then
    echo "A korvel package is installed on this machine ($(dpkg-query -W -f='${Version}' korvel)): the check" \
      "would replace it and remove it again, so it stops here. Remove it first (sudo apt remove korvel)." >&2
    return 1
  fi
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
  for path in ./usr/lib/korvel/korvel ./usr/lib/korvel/korvel-cli ./usr/lib/korvel/korvel-report \
      ./usr/lib/korvel/korvel-sim \
      ./usr/lib/korvel/init.B ./usr/lib/korvel/example.S19 ./usr/lib/korvel/flight_short.txt \
      "./usr/bin/korvel -> ../lib/korvel/korvel" "./usr/bin/korvel-cli -> ../lib/korvel/korvel-cli" \
      "./usr/bin/korvel-sim -> ../lib/korvel/korvel-sim" ./usr/share/applications/korvel.desktop \
      ./usr/share/icons/hicolor/scalable/apps/korvel.svg ./usr/share/man/man1/korvel-cli.1.gz; do
    grep -qF " $path" <<<"$listing" || { echo "the package lacks $path" >&2; return 1; }
  done
  dpkg-deb -f "$deb" Depends | grep -q 'libqt6core6' || { echo "no dependencies from shlibdeps" >&2; return 1; }
  dpkg-deb -f "$deb" Recommends | grep -q 'libqt6sql6-psql' || { echo "the server driver is not recommended" >&2; return 1; }
  dpkg-deb -x "$deb" "$pkg_scratch/root"
  desktop-file-validate "$pkg_scratch/root/usr/share/applications/korvel.desktop"

  pkg_ours=1
  apt_get install -y -qq --no-install-recommends "$deb" >"$log" 2>&1 ||
    { cat "$log" >&2; return 1; }
  # Not a pipe into grep -q: an early grep would end korvel-cli with SIGPIPE, failing the pipeline.
  local help
  help=$(korvel-cli --help)
  grep -q '^  dump \[--count\] FILE$' <<<"$help" || { echo "korvel-cli --help said: $help" >&2; return 1; }
  local count
  count=$(korvel-cli dump --count /usr/lib/korvel/flight_short.txt 2>"$log") || { cat "$log" >&2; return 1; }
  [ "$count" = '{"count":200}' ] || { echo "korvel-cli dump --count said: $count" >&2; return 1; }
  # The report is drawn by korvel-report, beside korvel-cli.
  korvel-cli report /usr/lib/korvel/flight_short.txt "$pkg_scratch/report.pdf" 2>"$log" && [ -s "$pkg_scratch/report.pdf" ] ||
    { cat "$log" >&2; return 1; }

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

# ---- Windows, cross-built with MinGW-w64 against the Qt of ../shared/toolchains, tried under Wine.
windows_dir="${KORVEL_WINDOWS_BUILD_DIR:-$top/BUILD-windows}"
windows_qt_archive="${KORVEL_QT_MINGW_ARCHIVE:-$top/../shared/toolchains/qt-6.4.2-mingw64.tar.xz}"
export KORVEL_QT_MINGW="$windows_dir/qt-mingw"
export KORVEL_WINE_PREFIX="$windows_dir/wine"

# Wine 8 with the serial wait QSerialPort needs (scripts/windows/wine-serial.sh), built once.
windows_wine() {
  scripts/windows/wine-serial.sh "$windows_dir/wine-serial"
  export KORVEL_WINE_LOADER="$windows_dir/wine-serial/lib/wine/wine64"
}

windows_build() {
  install_missing
  install_missing scripts/packages-windows.txt
  [ -f "$windows_qt_archive" ] || { echo "No Qt for Windows at $windows_qt_archive (../shared/toolchains/)" >&2; return 1; }
  # Unpacked once per archive: a stamp names the archive it came from.
  local stamp="$windows_dir/qt-mingw.stamp" want
  want="$(stat -c '%s %Y' "$windows_qt_archive")"
  if [ ! -d "$KORVEL_QT_MINGW" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
    rm -rf "$KORVEL_QT_MINGW"
    mkdir -p "$windows_dir"
    tar -C "$windows_dir" -xJf "$windows_qt_archive"
    echo "$want" >"$stamp"
  fi
  local gen=()
  [ -f "$windows_dir/build/CMakeCache.txt" ] || gen=(-G Ninja)
  cmake -S "$top" -B "$windows_dir/build" "${gen[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KORVEL_QT_MINGW/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$top/scripts/windows/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DKORVEL_QCUSTOMPLOT_SOURCE="$KORVEL_QT_MINGW/src/qcustomplot" >/dev/null
  cmake --build "$windows_dir/build" -j"$(nproc)"
}

windows_check() {
  windows_build
  windows_wine
  # The Linux simulator and korvel-cli stand beside the Windows programs in the roads.
  build_all
  # A fresh prefix, made once: no dialogs (Mono, Gecko), no display.
  if [ ! -f "$KORVEL_WINE_PREFIX/system.reg" ]; then
    echo "== making the Wine prefix"
    scripts/windows/wine-run.sh wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$KORVEL_WINE_PREFIX" wineserver -w
  fi
  local failed=0
  echo "== the tests under Wine"
  # One at a time: two Windows programs started at once under one prefix have hung there.
  scripts/windows/wine-tests.sh "$windows_dir/build" || failed=1
  echo "== the Windows korvel-cli's roads under Wine, beside the Linux one's"
  scripts/windows/wine-roads.sh "$windows_dir/build" "$build" || failed=1
  echo "== the setup program and the zip, installed and removed under Wine"
  windows_package || failed=1
  return $failed
}

windows_package() {
  scripts/windows/package.sh "$windows_dir/build" "$KORVEL_QT_MINGW" &&
    KORVEL_LINUX_CLI="$build/bin/korvel-cli" scripts/windows/setup-check.sh "$windows_dir/build"
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
  sanitize)
    build_checked
    cd "$checked"
    ctest --output-on-failure -j"$(nproc)"
    ;;
  fuzz)
    [ $# -ge 2 ] && [ "$2" -gt 0 ] 2>/dev/null || { echo "usage: scripts/dev.sh fuzz SECONDS [TARGET...]" >&2; exit 2; }
    run_fuzz "$2" "${@:3}"
    ;;
  package-check)
    install_missing
    build_all
    package_check
    ;;
  run)
    install_missing
    build_all
    # The instrument simulator stands in for the instrument as "Com 1" while the program runs. Both
    # keep their settings in a store of their own, so the user's real one is never touched.
    export XDG_CONFIG_HOME="$build/run-settings"
    mkdir -p "$XDG_CONFIG_HOME"
    "$build/bin/korvel-sim" --register 1 >/dev/null &
    sim=$!
    trap 'kill "$sim" 2>/dev/null || true' EXIT
    sleep 0.3
    "$build/bin/korvel"
    ;;
  windows)
    windows_check
    ;;
  windows-build)
    windows_build
    ;;
  windows-roads)
    windows_build
    windows_wine
    build_all
    scripts/windows/wine-roads.sh "$windows_dir/build" "$build"
    ;;
  windows-package)
    windows_build
    build_all
    windows_package
    ;;
  *)
    echo "usage: scripts/dev.sh run|test|build|package-check|windows|sanitize|fuzz SECONDS [TARGET...]" >&2
    exit 2
    ;;
esac
