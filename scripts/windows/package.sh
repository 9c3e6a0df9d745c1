#!/usr/bin/env bash
# The Windows build's two deliverables from one laid-out folder: the setup program and the zip for
# those who do not install.
#
#   scripts/windows/package.sh BUILD_DIR QT_PREFIX [VERSION]
#
# Makes, in BUILD_DIR: deploy/Korvel/ (deploy.sh from BUILD_DIR/bin), korvel-VERSION-setup.exe
# (makensis, packaging/windows/korvel.nsi) and korvel-VERSION-windows-x64.zip (the same folder as
# korvel-VERSION/). VERSION defaults to the project version in BUILD_DIR's CMake cache.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR QT_PREFIX [VERSION]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
qt=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
version=${3:-$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)}
if [ -z "$version" ]; then
  echo "package: no VERSION given and none in $build/CMakeCache.txt" >&2
  exit 2
fi

deploy="$build/deploy/Korvel"
setup="$build/korvel-$version-setup.exe"
zip_file="$build/korvel-$version-windows-x64.zip"

"$top/scripts/windows/deploy.sh" "$build/bin" "$qt" "$deploy"

rm -f "$setup"
makensis -V2 -DVERSION="$version" -DDEPLOY="$deploy" -DOUTFILE="$setup" "$top/packaging/windows/korvel.nsi"
echo "made $setup ($(du -h "$setup" | cut -f1))"

# In the zip the folder carries the version, so two versions unpack side by side.
rm -f "$zip_file"
stage="$build/deploy/korvel-$version"
rm -rf "$stage"
cp -a "$deploy" "$stage"
if command -v zip >/dev/null; then
  (cd "$build/deploy" && zip -q -r -9 "$zip_file" "korvel-$version")
else
  python3 - "$build/deploy" "korvel-$version" "$zip_file" <<'EOF'
import os, sys, zipfile
root, folder, out = sys.argv[1:]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for here, dirs, files in os.walk(os.path.join(root, folder)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(here, name)
            z.write(path, os.path.relpath(path, root))
EOF
fi
rm -rf "$stage"
echo "made $zip_file ($(du -h "$zip_file" | cut -f1))"
