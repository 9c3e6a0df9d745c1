#!/usr/bin/env bash
# Runs a Windows executable of the cross build under Wine, as ctest's emulator and by hand:
#   scripts/windows/wine-run.sh PROGRAM.exe ARGS...
# The prefix lives in the build folder (KORVEL_WINE_PREFIX, else BUILD-windows/wine beside the
# sources); Qt's DLLs and plugins come from the unpacked tool chain (KORVEL_QT_MINGW).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
qt="${KORVEL_QT_MINGW:-$top/BUILD-windows/qt-mingw}"
export WINEPREFIX="${KORVEL_WINE_PREFIX:-$top/BUILD-windows/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs: nothing here needs them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEPATH="Z:${qt//\//\\}\\bin"
export QT_PLUGIN_PATH="Z:${qt//\//\\}\\plugins"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
# Windows would not see a Linux display: the offscreen platform draws the windows.
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
