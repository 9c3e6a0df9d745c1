#!/usr/bin/env bash
# Lays out the Windows program's folder as Qt's deployment tool would: the executables, every DLL
# they load (found by following their import tables, DLL by DLL), Qt's plugins in the sub-folders
# Qt looks for beside the executable, and the files the program ships with (register file,
# example program, example flights).
#
#   scripts/windows/deploy.sh BUILD_BIN QT_PREFIX OUTDIR
#
# BUILD_BIN  the Windows build's bin/ (korvel.exe, korvel-cli.exe, ... and the example files)
# QT_PREFIX  the Qt for Windows (DLLs in bin/, plugins in plugins/)
# OUTDIR     made afresh (whatever is there is removed first)
#
# A DLL is looked for in BUILD_BIN, QT_PREFIX/bin and the MinGW run-time folders; one found in none
# of them must be a Windows system DLL (MinGW has an import library for each of those), else the
# layout would not start on a clean machine and the script fails.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 BUILD_BIN QT_PREFIX OUTDIR" >&2
  exit 2
fi
build_bin=$(cd "$1" && pwd)
qt=$(cd "$2" && pwd)
out=$3

triplet=x86_64-w64-mingw32
objdump=${OBJDUMP:-$triplet-objdump}
strip=${STRIP:-$triplet-strip}
sysroot=${MINGW_SYSROOT:-/usr/$triplet}
# The compiler's own run-time DLLs (libstdc++, libgcc_s) live beside its libraries.
gcc_dir=$(dirname "$($triplet-g++-posix -print-libgcc-file-name 2>/dev/null || echo /nonexistent/x)")
search=("$build_bin" "$qt/bin" "$gcc_dir" "$sysroot/lib" "$sysroot/bin")

fail() {
  echo "deploy: $*" >&2
  exit 1
}

command -v "$objdump" >/dev/null || fail "$objdump not found (Debian: binutils-mingw-w64-x86-64)"

# The executables: the window program and the headless one always, the report's program and the
# report module korvel-cli loads at run time when the build has them.
programs=(korvel.exe korvel-cli.exe)
optional=(korvel-report.exe korvel-cli-report.dll)
# What the program ships with, beside the executables.
data=(init.B example.S19 flight_3h.txt flight_short.txt calibration.txt)
# Plugins by the Qt module that loads them: folder/name.
gui_plugins=(platforms/qwindows.dll platforms/qoffscreen.dll platforms/qminimal.dll
  imageformats/qsvg.dll imageformats/qico.dll imageformats/qjpeg.dll imageformats/qgif.dll
  iconengines/qsvgicon.dll)
widgets_plugins=(styles/qwindowsvistastyle.dll)
sql_plugins=(sqldrivers/qsqlite.dll sqldrivers/qsqlpsql.dll)
network_plugins=(tls/qschannelbackend.dll tls/qcertonlybackend.dll)

case "$out" in
  '' | / | "$build_bin" | "$build_bin/") fail "refusing to make $out afresh" ;;
esac
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The DLLs a PE file imports, one name a line as the file spells it.
imports() {
  "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'
}

# The path of a DLL by its name (Windows compares names without case).
find_dll() {
  local dir hit
  for dir in "${search[@]}"; do
    [ -d "$dir" ] || continue
    hit=$(find "$dir" -maxdepth 1 -type f -iname "$1" -print -quit)
    [ -n "$hit" ] && { echo "$hit"; return 0; }
  done
  return 1
}

is_system_dll() {
  local stem
  stem=$(tr '[:upper:]' '[:lower:]' <<<"${1%.*}")
  case "$stem" in api-ms-win-* | ext-ms-win-*) return 0 ;; esac
  [ -f "$sysroot/lib/lib$stem.a" ]
}

declare -A seen=()  # lower-case name -> 1, for every DLL already placed or known to be the system's
queue=()

# Places a file in OUTDIR (or a sub-folder) and queues its imports.
place() {
  local file=$1 dest=$2
  mkdir -p "$(dirname "$dest")"
  cp "$file" "$dest"
  queue+=("$dest")
}

for exe in "${programs[@]}"; do
  [ -f "$build_bin/$exe" ] || fail "$build_bin/$exe is missing"
  place "$build_bin/$exe" "$out/$exe"
done
for exe in "${optional[@]}"; do
  [ -f "$build_bin/$exe" ] && place "$build_bin/$exe" "$out/$exe"
done
for f in "${data[@]}"; do
  [ -f "$build_bin/$f" ] || fail "$build_bin/$f is missing"
  cp "$build_bin/$f" "$out/$f"
done
for exe in "$out"/*.exe "$out"/korvel-cli-report.dll; do
  [ -f "$exe" ] || continue
  seen[$(basename "${exe,,}")]=1
done

add_plugins() {
  local p
  for p in "$@"; do
    [ -f "$qt/plugins/$p" ] || fail "$qt/plugins/$p is missing"
    place "$qt/plugins/$p" "$out/$p"
  done
}
# Follows the import tables until nothing new turns up. A Qt module, once in, brings its plugins.
while [ ${#queue[@]} -gt 0 ]; do
  file=${queue[0]}
  queue=("${queue[@]:1}")
  while read -r dll; do
    [ -n "$dll" ] || continue
    key=${dll,,}
    [ -z "${seen[$key]:-}" ] || continue
    seen[$key]=1
    if path=$(find_dll "$dll"); then
      place "$path" "$out/$(basename "$path")"
      case "$key" in
        qt6gui.dll) add_plugins "${gui_plugins[@]}" ;;
        qt6widgets.dll) add_plugins "${widgets_plugins[@]}" ;;
        qt6sql.dll) add_plugins "${sql_plugins[@]}" ;;
        qt6network.dll) add_plugins "${network_plugins[@]}" ;;
      esac
    elif ! is_system_dll "$dll"; then
      fail "$dll (needed by ${file#"$out"/}) is neither in ${search[*]} nor a Windows system DLL"
    fi
  done < <(imports "$file")
done

# The build's executables and Debian's run-time DLLs carry their debugging symbols (libstdc++ alone
# some 20 MB); the folder people install does without them.
if command -v "$strip" >/dev/null; then
  find "$out" -type f \( -iname '*.exe' -o -iname '*.dll' \) -exec "$strip" --strip-unneeded {} +
fi

echo "deployed $(find "$out" -type f | wc -l) files ($(du -sh "$out" | cut -f1)) into $out"
