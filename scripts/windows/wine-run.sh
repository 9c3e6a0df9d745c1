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
# Wine hands no QT_* variable of the Linux side to a Windows program; WINEQT_NAME reaches it as
# QT_NAME.
export WINEQT_PLUGIN_PATH="Z:${qt//\//\\}\\plugins"
export WINEQT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
export WINEQT_QPA_FONTDIR="${WINEQT_QPA_FONTDIR:-Z:\\usr\\share\\fonts\\truetype\\liberation}"
# The tests' times read as the Linux suite's do, in a 24-hour clock: a British English Windows.
wine_locale="${KORVEL_WINE_LOCALE:-en_GB.UTF-8}"
# Windows would not see a Linux display: the offscreen platform draws the windows.
unset DISPLAY WAYLAND_DISPLAY
# The Wine whose serial wait serves QSerialPort (wine-serial.sh), where it has been built.
wine=wine
if [ -n "${KORVEL_WINE_LOADER:-}" ]; then
  wine=$KORVEL_WINE_LOADER
  export WINELOADER=$KORVEL_WINE_LOADER
fi
exec env LC_ALL="$wine_locale" "$wine" "$@"
