#!/bin/sh
# Makes the .deb from the build as `make package` does, reads its control fields, installs it
# with dpkg into a throwaway root, runs the installed program, removes it again, and has
# lintian judge it.
# Usage: debian_package_test.sh BUILD VERSION
set -eu
build=$1
version=$2
. "$(dirname "$0")/scratch.sh"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" > /dev/null
deb=$scratch/out/palisor_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = palisor ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
# Found by dpkg-shlibdeps in the programs, each with its minimum version.
for library in libc6 libcurl4 libqt6widgets6 libstdc++6 zlib1g; do
  echo ", $(field Depends)" | grep -Fq ", $library (>= " || fail "Depends lacks $library: $(field Depends)"
done

# The root's package database is this machine's, so dpkg checks the dependencies against the
# libraries the programs were built with. It warns of every package's missing file list there.
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
cp /var/lib/dpkg/status "$root/var/lib/dpkg/status"
dpkg_in_root() {
  dpkg --root="$root" --force-not-root "$@" > "$scratch/dpkg.log" 2>&1 ||
    fail "dpkg $*: $(grep -v 'files list file for package' "$scratch/dpkg.log")"
}
dpkg_in_root -i "$deb"
[ "$("$root/usr/bin/palisor-update" --version)" = "palisor-update $version
License: MIT" ] ||
  fail "the installed palisor-update does not print $version and the license"
grep -q "^ExecStart=/usr/bin/palisor-update " "$root/usr/share/systemd/user/palisor-update.service" ||
  fail "the service does not start /usr/bin/palisor-update"
dpkg_in_root -r palisor
left=$(find "$root" ! -type d ! -path "$root/var/*")
[ -z "$left" ] || fail "left after removal: $left"

lintian --fail-on error "$deb" 2> /dev/null
