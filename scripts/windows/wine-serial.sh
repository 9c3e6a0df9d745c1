#!/usr/bin/env bash
# Wine 8 with a serial wait that Windows programs reading a COM port through a completion port can
# use (QSerialPort among them), for the checks of the Windows roads:
#   scripts/windows/wine-serial.sh OUT_DIR
# leaves OUT_DIR/lib/wine/wine64, a Wine loader that runs Debian's own Wine with one part rebuilt:
# ntdll.so from Debian's wine source with serial-wait.patch (wine/ beside this script). What Wine
# 8.0 does, and what the patch changes:
# - an overlapped WaitCommEvent whose OVERLAPPED has no event blocked its caller until a byte came
#   and queued no completion packet; QSerialPort waits for that packet, so it never read. The wait
#   now stays pending and ends with a packet, as on Windows (and as later Wine does it);
# - a line without modem lines (a pseudo-terminal) ended every wait at once with an empty mask;
#   the wait now goes on polling for data;
# - the thread that polls ended itself past the loader, leaving its thread-local storage linked;
#   the next DLL loaded with thread-local storage (Qt's SQLite driver, say) then spun on it.
# Everything else is the installed Wine (the other libraries are linked, not copied). Built once
# per patch and Wine version (about two minutes on two cores); the source comes from Debian's
# archive through apt, with a sources list of its own (the machine's apt settings are left alone).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
patch_file="$here/wine/serial-wait.patch"
system_dlls=/usr/lib/x86_64-linux-gnu/wine
version=$(dpkg-query -W -f '${Version}' wine64 2>/dev/null || true)
[ -n "$version" ] || { echo "wine-serial: Debian's wine64 is not installed" >&2; exit 1; }
want="$version $(sha256sum "$patch_file" | cut -d' ' -f1)"
if [ -x "$out/lib/wine/wine64" ] && [ "$(cat "$out/stamp" 2>/dev/null)" = "$want" ]; then
  exit 0
fi

work="$out/src"
rm -rf "$work" "$out/lib" "$out/share" "$out/stamp"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/parts"
log="$out/build.log"
: >"$log"
step() { echo "wine-serial: $*"; }
fail() { echo "wine-serial: $* (the log: $log)" >&2; tail -20 "$log" >&2; exit 1; }

# Debian's source archive, beside the binary one the machine uses.
step "fetching Debian's wine $version source"
sed -n '/^Types:/,/^$/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
  sed 's/^Types: deb$/Types: deb-src/' >"$work/apt/sources"
if [ ! -s "$work/apt/sources" ]; then
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\n' \
    >"$work/apt/sources"
  echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" >>"$work/apt/sources"
fi
mv "$work/apt/sources" "$work/apt/parts/debian.sources"
apt_opts=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/apt/parts"
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache" -o "APT::Sandbox::User=root")
apt-get "${apt_opts[@]}" update >>"$log" 2>&1 || fail "apt could not read Debian's source index"
(cd "$work" && apt-get "${apt_opts[@]}" source --download-only "wine=$version" >>"$log" 2>&1) ||
  fail "apt could not fetch the wine $version source"

step "preparing the source"
tar -C "$work" -xJf "$work"/wine_*.orig.tar.xz
src=$(find "$work" -maxdepth 1 -type d -name 'wine-*' | head -1)
tar -C "$src" -xJf "$work"/wine_*.debian.tar.xz
cd "$src"
# Debian's own patches first, as its package is built, then ours.
while read -r p; do
  case "$p" in '' | '#'*) continue ;; esac
  patch -p1 -s --no-backup-if-mismatch <"debian/patches/$p" >>"$log" 2>&1 || fail "Debian's patch $p did not apply"
done <debian/patches/series
patch -p1 --no-backup-if-mismatch <"$patch_file" >>"$log" 2>&1 || fail "serial-wait.patch did not apply"
# The generated server protocol, as Debian's build makes it (the rest of its generated data is not
# part of ntdll.so).
./debian/scripts/generate server/trace.generated make_requests
./debian/scripts/generate server/request.generated make_requests
./tools/make_requests >>"$log" 2>&1 || fail "the server protocol could not be generated"
ln -sf /usr/share/misc/config.sub tools/config.sub
ln -sf /usr/share/misc/config.guess tools/config.guess
autoreconf -f >>"$log" 2>&1 || fail "autoreconf failed"
# Sources that Debian generates from data packages are listed in makefiles ntdll.so does not need:
# empty stand-ins let the makefile be written.
find . -name Makefile.in | while read -r mk; do
  dir=$(dirname "$mk")
  parent=$(sed -n 's/^PARENTSRC *= *//p' "$mk")
  { sed -n '/^[A-Z_]*SRCS\|^SOURCES/,/^$/p' "$mk" | tr -d '\\' | tr ' \t' '\n\n' | grep '\.' || true; } |
    while read -r f; do
      [ -e "$dir/$f" ] || { [ -n "$parent" ] && [ -e "$dir/$parent/$f" ]; } ||
        { mkdir -p "$(dirname "$dir/$f")"; : >"$dir/$f"; }
    done
done

step "configuring (about 20 s)"
# The same install paths as Debian's package, so that the loader finds what the installed Wine has.
./configure --enable-win64 --without-mingw --disable-tests --without-x --without-freetype --without-gnutls \
  --without-oss --without-sane --without-netapi --without-alsa --without-pulse --without-gstreamer --without-cups \
  --without-dbus --without-fontconfig --without-vulkan --without-opengl --without-sdl --without-udev --without-usb \
  --without-v4l2 --without-krb5 --without-gssapi --without-pcap --without-capi --without-gphoto --without-ldap \
  --without-opencl --without-osmesa --without-inotify --without-unwind --without-xcomposite --without-xcursor \
  --without-xfixes --without-xinerama --without-xinput --without-xinput2 --without-xrandr --without-xrender \
  --without-xshape --without-xshm --without-xxf86vm \
  --libdir=/usr/lib/x86_64-linux-gnu/wine --bindir=/usr/lib/wine --datarootdir=/usr/share/wine \
  --includedir=/usr/include/wine CFLAGS="-O2 -g0" >>"$log" 2>&1 || fail "configure failed"

step "building ntdll.so"
make -j"$(nproc)" dlls/ntdll/ntdll.so >>"$log" 2>&1 || fail "ntdll.so did not build"

# The tree the loader expects (the loader finds ntdll.so relative to itself, and the rest relative
# to ntdll.so): the rebuilt ntdll.so, every other library and program of the installed Wine linked.
unix="$out/lib/x86_64-linux-gnu/wine/x86_64-unix"
mkdir -p "$out/lib/wine" "$unix" "$out/share"
cp /usr/lib/wine/wine64 "$out/lib/wine/wine64"
ln -s /usr/lib/wine/wineserver "$out/lib/wine/wineserver" # Debian's, which ends with the last program
for f in "$system_dlls"/x86_64-unix/*; do ln -s "$f" "$unix/"; done
rm "$unix/ntdll.so"
cp dlls/ntdll/ntdll.so "$unix/ntdll.so"
ln -s "$system_dlls/x86_64-windows" "$out/lib/x86_64-linux-gnu/wine/x86_64-windows"
[ -d "$system_dlls/i386-windows" ] && ln -s "$system_dlls/i386-windows" "$out/lib/x86_64-linux-gnu/wine/i386-windows"
ln -s /usr/share/wine "$out/share/wine"
cd "$out"
rm -rf "$work"
echo "$want" >"$out/stamp"
step "ready: $out/lib/wine/wine64"
