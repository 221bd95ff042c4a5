#!/bin/sh
# check-installed.sh ROOT [deb]: checks a tree the program was installed into (cmake --install with a
# prefix of ROOT/usr, or a package unpacked with dpkg -x into ROOT): the programs run, and the desktop
# entry, icon, metainfo, manual pages, completion and catalogue are where the desktop and the tools look.
# With "deb", the manual pages are compressed and the copyright file is there, as a package has them.
set -u
root=$1
kind=${2:-install}
failed=0
fail() { echo "FAIL: $*"; failed=1; }

man=".1"
[ "$kind" = deb ] && man=".1.gz"
for f in bin/korvane bin/korvane-capture \
  share/applications/org.korvane.Korvane.desktop \
  share/metainfo/org.korvane.Korvane.metainfo.xml \
  share/icons/hicolor/scalable/apps/korvane.svg \
  "share/man/man1/korvane$man" "share/man/man1/korvane-capture$man" \
  share/bash-completion/completions/korvane-capture \
  share/locale/ja/LC_MESSAGES/korvane.mo; do
  [ -f "$root/usr/$f" ] || fail "missing /usr/$f"
done
[ "$kind" = deb ] && { [ -f "$root/usr/share/doc/korvane/copyright" ] || fail "missing the copyright file"; }
for f in bin/korvane bin/korvane-capture; do
  [ -x "$root/usr/$f" ] || fail "/usr/$f is not executable"
done
# Nothing outside /usr, nothing of the build or the tests.
stray=$(cd "$root" && find . -type f ! -path './usr/*' | head -5)
[ -z "$stray" ] || fail "files outside /usr: $stray"
tests=$(cd "$root" && find . -name '*test*' -o -name '*bench*' -o -name 'CMakeCache.txt' | head -5)
[ -z "$tests" ] || fail "files of the build: $tests"

version=$("$root/usr/bin/korvane-capture" --version 2>&1) || fail "korvane-capture --version: $version"
case $version in korvane-capture*) ;; *) fail "korvane-capture --version said: $version" ;; esac

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/org.korvane.Korvane.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$root/usr/share/metainfo/org.korvane.Korvane.metainfo.xml" >/dev/null ||
    { appstreamcli validate --no-net "$root/usr/share/metainfo/org.korvane.Korvane.metainfo.xml"; fail "appstreamcli validate"; }
fi
if [ "$kind" = deb ]; then
  for page in korvane korvane-capture; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | man -l - >/dev/null 2>&1 || fail "man cannot show $page(1)"
  done
fi

# The completion, as bash-completion loads it: options, formats, and folders for --output.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  out=$(bash --norc --noprofile -c '
    . /usr/share/bash-completion/bash_completion
    . "$1/usr/share/bash-completion/completions/korvane-capture"
    complete_words() {
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      COMPREPLY=(); _korvane_capture korvane-capture "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
      echo "${COMPREPLY[*]}"
    }
    complete_words korvane-capture --for
    complete_words korvane-capture --format ""
    complete_words korvane-capture --hide-c
  ' sh "$root")
  expected="--format
bmp jpg png webp
--hide-consent"
  [ "$out" = "$expected" ] || fail "completion gave: $out"
fi

[ $failed -eq 0 ] && echo "installed tree in $root: all there"
exit $failed
