#!/usr/bin/env bash
# The setup program as a Windows user gets it, under Wine on a machine of its own (a fresh prefix):
# installed silently, its files, menu entries and Apps & Features entry there, the installed
# programs run, then uninstalled silently and nothing left of it but the user's own settings.
# The zip of the same folder is unpacked and run too, when it is there.
#
#   scripts/windows/setup-check.sh BUILD_DIR
#
# BUILD_DIR holds korvel-VERSION-setup.exe (and korvel-VERSION-windows-x64.zip, deploy/Korvel/).
# The Linux korvel-cli whose summary the installed one must equal: KORVEL_LINUX_CLI, else
# BUILD/bin/korvel-cli of this source tree; without one, the summary need only be a JSON object.
# The prefix is KORVEL_SETUP_WINEPREFIX, else BUILD_DIR/wine-setup, made afresh.
# One PASS or FAIL line per step; the status is 1 when any step failed.
set -uo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)

setups=("$build"/korvel-*-setup.exe)
if [ ${#setups[@]} -ne 1 ] || [ ! -f "${setups[0]}" ]; then
  echo "FAIL: setup program: expected one korvel-VERSION-setup.exe in $build" >&2
  exit 1
fi
setup=${setups[0]}
version=${setup##*/korvel-}
version=${version%-setup.exe}

export WINEPREFIX="${KORVEL_SETUP_WINEPREFIX:-$build/wine-setup}"
export WINEDEBUG=-all
# No Mono or Gecko prompt while the prefix is made; the program needs neither.
export WINEDLLOVERRIDES="mscoree=;mshtml="
# Nothing of the build may stand in for what the setup program must bring. (Wine passes no QT_*
# variable to Windows programs; WINEQT_* reaches them as QT_*.)
unset WINEPATH WINEQT_PLUGIN_PATH WINEQT_QPA_PLATFORM_PLUGIN_PATH
drive_c="$WINEPREFIX/drive_c"
program_dir="$drive_c/Program Files/Korvel"
win_program_dir='C:\Program Files\Korvel'
menu_dir="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvel"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel'
settings_key='HKCU\Software\Korvel\Korvel Engine Monitor'
scratch=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$scratch"' EXIT

failed=0
steps=0
pass() {
  steps=$((steps + 1))
  echo "PASS: $1"
}
fail() {
  steps=$((steps + 1))
  failed=$((failed + 1))
  echo "FAIL: $1"
  [ -z "${2:-}" ] || head -n 20 <<<"$2" | sed 's/^/      /'
}

# Runs a Windows program and waits until every process of the prefix has ended: a setup program
# or uninstaller may hand over to a copy of itself and return at once.
wine_wait() {
  local limit=$1 rc=0
  shift
  timeout "$limit" wine "$@" || rc=$?
  timeout "$limit" wineserver -w || { wineserver -k; rc=124; }
  return "$rc"
}

# The registry value DATA of NAME under KEY, as `reg query` prints it (no CR).
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# A machine of its own: no earlier install, no DLL that a build left in a system folder. Only a
# Wine prefix (or nothing) is removed.
if [ -e "$WINEPREFIX" ] && [ ! -f "$WINEPREFIX/system.reg" ] && [ -n "$(ls -A "$WINEPREFIX")" ]; then
  echo "FAIL: $WINEPREFIX is there and is no Wine prefix; not removing it" >&2
  exit 1
fi
rm -rf "$WINEPREFIX"
if ! timeout 300 wineboot -i >"$scratch/boot.log" 2>&1 || ! timeout 120 wineserver -w; then
  fail "Wine prefix $WINEPREFIX" "$(cat "$scratch/boot.log")"
  exit 1
fi

# 1. The silent install.
rc=0
wine_wait 600 "$setup" /S >"$scratch/install.log" 2>&1 || rc=$?
if [ "$rc" -eq 0 ] && [ -f "$program_dir/korvel.exe" ]; then
  pass "installed silently ($(basename "$setup") /S) into $win_program_dir"
else
  fail "silent install ($(basename "$setup") /S): status $rc" "$(cat "$scratch/install.log")"
fi

# 2. The program's folder: what deploy.sh laid out (all of it, when its folder is there), and the uninstaller.
expected=(korvel.exe korvel-cli.exe uninstall.exe init.B example.S19 flight_3h.txt flight_short.txt calibration.txt
  Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Sql.dll Qt6SerialPort.dll Qt6Svg.dll
  libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll libpq.dll libssl-3-x64.dll libcrypto-3-x64.dll
  platforms/qwindows.dll platforms/qoffscreen.dll styles/qwindowsvistastyle.dll
  sqldrivers/qsqlite.dll sqldrivers/qsqlpsql.dll imageformats/qsvg.dll imageformats/qico.dll iconengines/qsvgicon.dll)
missing=()
for f in "${expected[@]}"; do
  [ -f "$program_dir/$f" ] || missing+=("$f")
done
if [ -d "$build/deploy/Korvel" ]; then
  while IFS= read -r f; do
    [ -f "$program_dir/$f" ] || missing+=("$f")
  done < <(cd "$build/deploy/Korvel" && find . -type f | sed 's|^\./||')
fi
if [ ${#missing[@]} -eq 0 ]; then
  pass "the program's folder holds the executables, Qt's DLLs and plugins, the run-time, libpq, the examples ($(find "$program_dir" -type f | wc -l) files)"
else
  fail "the program's folder lacks: ${missing[*]}"
fi

# 3. The Start menu (for every user).
if [ -f "$menu_dir/Korvel Engine Monitor.lnk" ] && [ -f "$menu_dir/Uninstall Korvel Engine Monitor.lnk" ]; then
  pass "Start menu: Korvel\\Korvel Engine Monitor, Korvel\\Uninstall Korvel Engine Monitor"
else
  fail "Start menu entries" "$(ls -la "$menu_dir" 2>&1)"
fi

# 4. Apps & Features.
name=$(reg_value "$uninstall_key" DisplayName)
shown_version=$(reg_value "$uninstall_key" DisplayVersion)
publisher=$(reg_value "$uninstall_key" Publisher)
quiet=$(reg_value "$uninstall_key" QuietUninstallString)
location=$(reg_value "$uninstall_key" InstallLocation)
if [ "$name" = "Korvel Engine Monitor" ] && [ "$shown_version" = "$version" ] && [ "$publisher" = Korvel ] &&
  [ "$quiet" = "\"$win_program_dir\\uninstall.exe\" /S" ] && [ "$location" = "$win_program_dir" ]; then
  pass "Apps & Features: \"$name\" $shown_version by $publisher"
else
  fail "the uninstall key $uninstall_key" "$(wine reg query "$uninstall_key" 2>&1 | tr -d '\r')"
fi

# 5. The installed programs run from their folder: nothing but what the setup program brought.
out=$(timeout 120 wine "$win_program_dir\\korvel-cli.exe" --version 2>"$scratch/err" | tr -d '\r')
if [ "$out" = "korvel-cli $version" ]; then
  pass "korvel-cli.exe --version: $out"
else
  fail "korvel-cli.exe --version said \"$out\", not \"korvel-cli $version\"" "$(cat "$scratch/err")"
fi

linux_cli="${KORVEL_LINUX_CLI:-$top/BUILD/bin/korvel-cli}"
flight="$win_program_dir\\flight_3h.txt"
summary=$(timeout 120 wine "$win_program_dir\\korvel-cli.exe" summary "$flight" 2>"$scratch/err" | tr -d '\r')
rc=$?
if [ -x "$linux_cli" ]; then
  linux_summary=$("$linux_cli" summary "$program_dir/flight_3h.txt" 2>/dev/null)
  if [ "$rc" -eq 0 ] && [ -n "$summary" ] && [ "$summary" = "$linux_summary" ]; then
    pass "korvel-cli.exe summary flight_3h.txt equals the Linux korvel-cli's (${#summary} characters)"
  else
    fail "korvel-cli.exe summary flight_3h.txt (status $rc) differs from the Linux korvel-cli's" \
      "$(diff <(echo "$linux_summary") <(echo "$summary"); cat "$scratch/err")"
  fi
elif [ "$rc" -eq 0 ] && python3 -c 'import json, sys; assert isinstance(json.loads(sys.stdin.read()), dict)' <<<"$summary" 2>/dev/null; then
  pass "korvel-cli.exe summary flight_3h.txt is a JSON object (no Linux korvel-cli at $linux_cli to compare)"
else
  fail "korvel-cli.exe summary flight_3h.txt (status $rc)" "$summary$(cat "$scratch/err")"
fi

# The window program starts on Windows' own platform plugin and keeps running until it is stopped.
rc=0
timeout 20 wine "$win_program_dir\\korvel.exe" >"$scratch/gui.log" 2>&1 || rc=$?
wineserver -k 2>/dev/null
timeout 60 wineserver -w 2>/dev/null
if [ "$rc" -eq 124 ]; then
  pass "korvel.exe started and ran until stopped (20 s)"
else
  fail "korvel.exe ended by itself (status $rc)" "$(cat "$scratch/gui.log")"
fi

# 6. The silent uninstall: the folder, the menu entries and the key go; the user's settings stay.
wine reg add "$settings_key\\Ports" /v COM9 /d COM9 /f >/dev/null 2>&1
rc=0
wine_wait 300 "$win_program_dir\\uninstall.exe" /S >"$scratch/uninstall.log" 2>&1 || rc=$?
if [ "$rc" -eq 0 ] && [ ! -e "$program_dir" ]; then
  pass "uninstalled silently (uninstall.exe /S): $win_program_dir is gone"
else
  fail "silent uninstall (status $rc): $win_program_dir is still there" \
    "$(cat "$scratch/uninstall.log"; find "$program_dir" 2>/dev/null | head)"
fi
if [ ! -e "$menu_dir" ]; then
  pass "the Start menu entries are gone"
else
  fail "the Start menu entries are still there" "$(ls -la "$menu_dir")"
fi
if ! wine reg query "$uninstall_key" >/dev/null 2>&1; then
  pass "the uninstall key is gone"
else
  fail "the uninstall key $uninstall_key is still there"
fi
if [ "$(reg_value "$settings_key\\Ports" COM9)" = COM9 ]; then
  pass "the user's settings ($settings_key) are left alone"
else
  fail "the uninstaller removed the user's settings ($settings_key)"
fi

# 7. The zip: unpacked anywhere, the same programs run from it.
unpack() {
  if command -v unzip >/dev/null; then unzip -q "$1" -d "$2"; else python3 -m zipfile -e "$1" "$2"; fi
}
zip_file="$build/korvel-$version-windows-x64.zip"
if [ -f "$zip_file" ]; then
  out=""
  if unpack "$zip_file" "$drive_c/unpacked" 2>"$scratch/err"; then
    cli=$(cd "$drive_c/unpacked" && find . -name korvel-cli.exe | head -n 1)
    cli=${cli#./}
    out=$(timeout 120 wine "C:\\unpacked\\${cli//\//\\}" --version 2>>"$scratch/err" | tr -d '\r')
  fi
  if [ "$out" = "korvel-cli $version" ]; then
    pass "$(basename "$zip_file") unpacked: korvel-cli.exe --version: $out"
  else
    fail "$(basename "$zip_file") unpacked: korvel-cli.exe --version said \"$out\"" "$(cat "$scratch/err")"
  fi
fi

if [ "$failed" -eq 0 ]; then
  echo "setup-check: all $steps steps passed"
else
  echo "setup-check: $failed of $steps steps FAILED"
  exit 1
fi
