#!/bin/sh
# Installs the build into a scratch DESTDIR, as `make install DESTDIR=...` does, and checks the
# tree with the tools a desktop, man and systemd use; then the uninstall script of
# `make uninstall` must take back exactly what was installed.
# Usage: install_tree_test.sh BUILD VERSION SOURCE
set -eu
build=$1
version=$2
source=$3
. "$(dirname "$0")/scratch.sh"

# A prefix no default would give, so that every installed path must follow it. The staged tree
# is then linked where the prefix says it lives, for the tools that follow the paths inside.
prefix=$scratch/prefix
root=$scratch/root
DESTDIR=$root cmake --install "$build" --prefix "$prefix" > /dev/null
ln -s "$root$prefix" "$prefix"

actual=$(cd "$root" && find . ! -type d | LC_ALL=C sort)
expected=$(LC_ALL=C sort << TREE
.$prefix/bin/palisor
.$prefix/bin/palisor-update
.$prefix/share/applications/org.palisor.Palisor.desktop
.$prefix/share/doc/palisor/changelog.gz
.$prefix/share/doc/palisor/copyright
.$prefix/share/icons/hicolor/16x16/apps/org.palisor.Palisor.png
.$prefix/share/icons/hicolor/32x32/apps/org.palisor.Palisor.png
.$prefix/share/icons/hicolor/48x48/apps/org.palisor.Palisor.png
.$prefix/share/icons/hicolor/64x64/apps/org.palisor.Palisor.png
.$prefix/share/icons/hicolor/128x128/apps/org.palisor.Palisor.png
.$prefix/share/icons/hicolor/256x256/apps/org.palisor.Palisor.png
.$prefix/share/icons/hicolor/scalable/apps/org.palisor.Palisor.svg
.$prefix/share/man/man1/palisor-update.1.gz
.$prefix/share/man/man1/palisor.1.gz
.$prefix/share/man/man5/palisor.ini.5.gz
.$prefix/share/systemd/user/palisor-update.service
.$prefix/share/systemd/user/palisor-update.timer
TREE
)
[ "$actual" = "$expected" ] || fail "installed tree:
$actual"
# Programs runnable by everyone, nothing else executable, nothing writable but by its owner.
odd=$(find "$root" ! -type d \( -perm /022 -o \( -perm /111 ! -path "*/bin/*" \) \
  -o \( ! -perm -555 -path "*/bin/*" \) \))
[ -z "$odd" ] || fail "wrong modes: $odd"

[ "$("$prefix/bin/palisor-update" --version)" = "palisor-update $version
License: MIT" ] ||
  fail "palisor-update --version does not print $version and the license"

desktop-file-validate "$prefix/share/applications/org.palisor.Palisor.desktop"

for page in palisor.1 palisor-update.1 palisor.ini.5; do
  file=$prefix/share/man/man${page##*.}/$page.gz
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "man warns about $page: $warnings"
  LC_ALL=C.UTF-8 man -E UTF-8 -l "$file" 2> /dev/null | grep -q "Palisor $version" ||
    fail "$page does not name version $version"
done

for size in 16 32 48 64 128 256; do
  file -b "$prefix/share/icons/hicolor/${size}x$size/apps/org.palisor.Palisor.png" |
    grep -q "^PNG image data, $size x $size," || fail "the ${size}x$size icon is not $size pixels"
done
file -b "$prefix/share/icons/hicolor/scalable/apps/org.palisor.Palisor.svg" |
  grep -q "^SVG Scalable Vector Graphics image" || fail "the scalable icon is no SVG"

# systemd checks both units, and that the program the service starts is there.
units=$prefix/share/systemd/user
mkdir -m 0700 "$scratch/runtime"
XDG_RUNTIME_DIR=$scratch/runtime systemd-analyze --user verify --man=no \
  "$units/palisor-update.timer" "$units/palisor-update.service"

touch "$root$prefix/share/applications/other.desktop"
DESTDIR=$root sh "$source/packaging/uninstall.sh" "$build" "$prefix" > /dev/null
left=$(cd "$root" && find . ! -type d)
[ "$left" = ".$prefix/share/applications/other.desktop" ] || fail "left after uninstall: $left"
