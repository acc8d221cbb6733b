#!/bin/sh
# Removes from DESTDIR/PREFIX exactly the files that installing this build there puts in place.
# The list comes from an install into a scratch folder, not from install_manifest.txt, which
# any later install from the same build (a test, another prefix) overwrites.
# Usage: [DESTDIR=DIR] uninstall.sh BUILD PREFIX
set -eu
build=$1
prefix=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

DESTDIR=$scratch cmake --install "$build" --prefix "$prefix" > /dev/null
(cd "$scratch" && find . ! -type d) | while IFS= read -r file; do
  target=${DESTDIR:-}${file#.}
  if [ -e "$target" ] || [ -L "$target" ]; then
    rm -f "$target"
    echo "-- Removed: $target"
  fi
done
# The package's own folder; shared ones (man1, applications, icons) stay.
rmdir "${DESTDIR:-}$prefix/share/doc/palisor" 2> /dev/null || true
