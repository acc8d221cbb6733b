#!/bin/sh
# Writes the Debian changelog of the package, compressed, from CHANGELOG.md: one entry per
# "## VERSION (YYYY-MM-DD)" heading, its "- " items as Debian items. The newest entry is signed
# at noon UTC of its day and each older one a minute earlier than that: the same sources always
# give the same package, and versions released on one day still get strictly older dates.
# Usage: debian-changelog.sh CHANGELOG.md PACKAGE "MAINTAINER <ADDRESS>" OUTPUT.gz
set -eu
changelog=$1 package=$2 maintainer=$3 output=$4

LC_ALL=C.UTF-8 awk -v package="$package" -v maintainer="$maintainer" '
  function finish_entry(  minutes, date) {
    if (version == "") return
    minutes = 12 * 60 - (entries - 1)
    command = sprintf("LC_ALL=C date -u -R -d \"%s %02d:%02d\"", day, minutes / 60, minutes % 60)
    command | getline date
    close(command)
    printf "\n -- %s  %s\n", maintainer, date
  }
  /^## / {
    finish_entry()
    version = $2
    day = $3
    gsub(/[()]/, "", day)
    if (entries++) printf "\n"
    printf "%s (%s) unstable; urgency=medium\n\n", package, version
    next
  }
  version == "" { next }
  /^- / { printf "  * %s\n", substr($0, 3); next }
  /^  [^ ]/ { printf "    %s\n", substr($0, 3); next }
  END { finish_entry() }
' "$changelog" | gzip -9n > "$output"
