#!/bin/sh
# check-install-rules.sh BUILD: installs the build into a throwaway root (as a package build does) and
# checks what lands there.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/korvane-install-XXXXXX")
log=$(mktemp "${TMPDIR:-/tmp}/korvane-install-log-XXXXXX")
trap 'rm -rf "$root" "$log"' EXIT
DESTDIR="$root" cmake --install "$1" --prefix /usr >"$log" 2>&1 || { cat "$log"; exit 1; }
"$(dirname "$0")/check-installed.sh" "$root"
