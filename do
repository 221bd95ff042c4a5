#!/usr/bin/env bash
# Project tasks. Usage: ./do deps | build [target...] | test [ctest args...] | run | install [prefix] | package
#   | format [--check] | translations [--check]
# run: the window where there is a display, otherwise a capture of the bundled sample page.
# Every task installs the Debian packages it needs first (apt-get, with sudo when not root).
set -euo pipefail
caller_dir="$PWD"
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  zlib1g-dev libjpeg62-turbo-dev libspng-dev libwebp-dev nlohmann-json3-dev libboost-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium fonts-liberation fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
  xvfb xauth pngcheck libjpeg-turbo-progs webp libpng-dev python3 python3-yaml clang-format gettext locales
  clang libclang-rt-14-dev desktop-file-utils appstream bash-completion man-db xdg-utils
)
# What building the Debian package takes besides (its build dependencies are in debian/control).
PACKAGE_TOOLS=(dpkg-dev debhelper lintian)

preset=default
[ "${CI:-}" = "true" ] && preset=ci

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

deps() {
  local missing=() p
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  fi
}

configure() {
  if [ ! -f build/build.ninja ] || [ "$(cat build/.preset 2>/dev/null)" != "$preset" ]; then
    cmake --preset "$preset"
    echo "$preset" > build/.preset
  fi
}

# Builds are serialised through one lock: two builds at once on a small machine only thrash.
build() {
  configure
  local targets=()
  [ $# -gt 0 ] && targets=(--target "$@")
  flock build/.lock cmake --build --preset "$preset" "${targets[@]}"
}

# The C++ sources that clang-format keeps in the repo's style.
sources() {
  find platform imaging browser dragdrop capture app cli tests bench -name '*.cpp' -o -name '*.h' | sort
}

# The program's version, as the project in CMakeLists.txt gives it.
project_version() {
  sed -n 's/^project(korvane VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt
}

# The texts marked for translation in the program (not in tests or benchmarks).
catalogue_template() {
  find platform imaging browser dragdrop capture app cli -name '*.cpp' -o -name '*.h' | sort |
    xargs xgettext --language=C++ --from-code=UTF-8 --keyword=Tr --keyword=QTr --keyword=TrNoop \
      --package-name=korvane --package-version="$(project_version)" --no-location --sort-output -o "$1"
}

case "${1:-}" in
  deps) deps ;;
  build) shift; deps; build "$@" ;;
  test)
    shift; deps; build
    ctest --preset "$preset" -j2 "$@"
    # Every test but the browser's, and the fuzzers, under AddressSanitizer and UBSan; the threaded parts
    # under ThreadSanitizer (not when only some tests were asked for).
    if [ $# -eq 0 ]; then
      for sanitizer in asan tsan; do
        [ -f "build-$sanitizer/build.ninja" ] || cmake --preset "$sanitizer"
        flock build/.lock cmake --build --preset "$sanitizer"
        ctest --preset "$sanitizer" -j2
      done
    fi
    ;;
  run)
    deps; build
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
      exec build/app/korvane
    fi
    echo "No display: capturing the sample page with korvane-capture into $caller_dir"
    cd "$caller_dir"
    exec "$OLDPWD/build/cli/korvane-capture" "$OLDPWD/samples/page/index.html"
    ;;
  format)
    if [ "${2:-}" = "--check" ]; then
      sources | xargs clang-format --dry-run -Werror
    else
      deps
      sources | xargs clang-format -i
    fi
    ;;
  translations)
    # po/korvane.pot from the code, merged into every catalogue; --check only tells whether a catalogue
    # lacks a text of the code.
    [ "${2:-}" = "--check" ] || deps
    template=$(mktemp --suffix=.pot)
    trap 'rm -f "$template"' EXIT
    catalogue_template "$template"
    if [ "${2:-}" = "--check" ]; then
      for po in po/*.po; do
        msgcmp --use-untranslated "$po" "$template"
        # Every text is translated but the window's captions (po/captions), which stay as they are.
        untranslated=$(msgattrib --untranslated --no-obsolete --no-wrap "$po" | sed -n 's/^msgid "\(.\+\)"$/\1/p' | sort)
        if [ "$untranslated" != "$(sort po/captions)" ]; then
          echo "$po: untranslated texts other than the captions, or captions translated:" >&2
          diff <(echo "$untranslated") <(sort po/captions) >&2
          exit 1
        fi
      done
    else
      sed '/^"POT-Creation-Date:/d' "$template" > po/korvane.pot
      for po in po/*.po; do msgmerge --quiet --update --backup=none --no-location --sort-output "$po" po/korvane.pot; done
    fi
    ;;
  install)
    deps; build
    cmake --install build --prefix "${2:-/usr/local}"
    ;;
  package)
    # dpkg-buildpackage builds in the tree and leaves its files in the folder above; they are moved to build/.
    deps "${PACKAGE_TOOLS[@]}"
    dpkg-checkbuilddeps 2>/dev/null ||
      as_root env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q ./

    version=$(dpkg-parsechangelog -S Version)
    arch=$(dpkg-architecture -q DEB_HOST_ARCH)
    dpkg-buildpackage -us -uc -b
    mkdir -p build
    for f in ../korvane_"$version"_"$arch".{deb,buildinfo,changes} ../korvane-dbgsym_"$version"_"$arch".deb; do
      [ -f "$f" ] && mv -f "$f" build/
    done
    deb="build/korvane_${version}_${arch}.deb"
    # The package's build tree is of no further use (the next package build starts clean).
    debian/rules clean >/dev/null
    # The package's files, unpacked into a throwaway root and checked; then lintian.
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    dpkg -x "$deb" "$root"
    tests/package/check-installed.sh "$root" deb
    lintian --fail-on error "$deb"
    echo "$(readlink -f "$deb")"
    ;;
  *)
    sed -n '2,4p' "$0" | sed 's/^# //'
    exit 2
    ;;
esac
