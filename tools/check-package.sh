#!/usr/bin/env bash
# Builds the Debian package in a build tree configured with
# -DCMAKE_INSTALL_PREFIX=/usr and checks it as a packager and a user would:
# the validators of the desktop entry and the metainfo, lintian (no error and
# no warning but those kept below), apt's resolution of its dependencies, and
# the installed programs run from an empty folder. The package is unpacked into
# a scratch root, never installed into the system.
#   tools/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

rm -f "$build"/velloran_*.deb
if ! (cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1); then
  cat "$build/cpack.log" >&2
  exit 1
fi
deb=$(echo "$build"/velloran_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
dpkg-deb -x "$deb" "$root"
id=org.velloran.Velloran
desktop-file-validate "$root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"

# Tags kept, each for its reason (none at present: add `--suppress-tags TAG`
# with a comment saying why).
status=0
lintian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$scratch/lintian.log" || true
if [ "$status" -ne 0 ]; then
  echo "lintian found errors or warnings" >&2
  exit 1
fi

# Every dependency exists in the archive and can be installed together.
apt-get install --simulate --quiet=2 "$deb" >/dev/null

# The installed programs, from an empty folder: the renderer finds its example,
# the module imports with the prefix's Python.
mkdir "$scratch/empty"
(cd "$scratch/empty" && "$root/usr/bin/velloran-render" --example blob-to-s-sound --quiet)
test -s "$scratch/empty/render-out/frame_002000.png"
"$root/usr/bin/velloran-render" --list-examples | grep -q "^configuration files and images: $root/usr/share/velloran/examples\$"
(cd "$scratch/empty" && PYTHONPATH=$root/usr/lib/python3/dist-packages /usr/bin/python3 -c \
  "import velloran; print('python module', velloran.__version__, 'from', velloran.__file__)")
