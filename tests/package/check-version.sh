#!/bin/sh
# check-version.sh SOURCE: the release records that cannot take the version from the build (the Debian
# changelog, the AppStream release list) name the version of the project in CMakeLists.txt.
set -u
cd "$1" || exit 1
version=$(sed -n 's/^project(korvane VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
failed=0
[ -n "$version" ] || { echo "FAIL: no version in CMakeLists.txt"; exit 1; }
debian=$(sed -n '1s/^korvane (\([^)]*\)).*/\1/p' debian/changelog)
[ "$debian" = "$version" ] || { echo "FAIL: debian/changelog is at $debian, the project at $version"; failed=1; }
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' packaging/org.korvane.Korvane.metainfo.xml | head -1)
[ "$release" = "$version" ] || { echo "FAIL: the metainfo's newest release is $release, the project is at $version"; failed=1; }
[ $failed -eq 0 ] && echo "version $version everywhere"
exit $failed
