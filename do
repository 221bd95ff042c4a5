#!/usr/bin/env bash
# Project tasks. Usage: ./do deps | build [target...] | test [ctest args...] | run | install [prefix] | format [--check]
# run: the window where there is a display, otherwise a capture of the bundled sample page.
# Every task installs the Debian packages it needs first (apt-get, with sudo when not root).
set -euo pipefail
caller_dir="$PWD"
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  zlib1g-dev libjpeg62-turbo-dev libspng-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium fonts-liberation fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
  xvfb xauth pngcheck libjpeg-turbo-progs libpng-dev python3 clang-format
)

preset=default
[ "${CI:-}" = "true" ] && preset=ci

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

deps() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
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

case "${1:-}" in
  deps) deps ;;
  build) shift; deps; build "$@" ;;
  test)
    shift; deps; build
    ctest --preset "$preset" -j2 "$@"
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
  install)
    deps; build
    cmake --install build --prefix "${2:-/usr/local}"
    ;;
  *)
    sed -n '2,4p' "$0" | sed 's/^# //'
    exit 2
    ;;
esac
