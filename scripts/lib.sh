# Shared by scripts/run and scripts/test: installs what is missing and builds.
# Sourcing it changes no folder: the caller's current folder is kept.
set -euo pipefail

TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-2}"

# Debian packages, one list per purpose. CMake names the package of every
# library it fails to find (see the FATAL_ERROR hints in the CMakeLists), and
# the packages_listed test checks that each package named there is in a
# list below, so the lists and the build cannot drift apart.
#
# Building and starting the programs.
# The window needs Qt 6 Widgets (with its Wayland platform, so that it runs
# on a Wayland desktop without an X server) and a font with Japanese glyphs.
RUN_PACKAGES=(
  g++ cmake ninja-build ccache
  pkg-config libsystemd-dev libssl-dev
  qt6-base-dev qt6-wayland fonts-noto-cjk
)
# Running every test: the build above, GoogleTest and GoogleMock (two
# packages on Debian 12), the 32-bit layout check, the sanitizer and fuzzer
# runtimes, the real servers the tests start on loopback, man to format
# the installed manual page, and an X server with a client library for the
# test that closes the window as a window manager would.
TEST_PACKAGES=(
  "${RUN_PACKAGES[@]}"
  libgtest-dev libgmock-dev
  g++-multilib
  clang libclang-rt-14-dev clang-format-14
  nginx-light tinyproxy python3
  curl bc man-db
  xvfb xauth python3-xlib
)

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# ensure_packages PACKAGE... installs the missing ones with apt-get, as root
# or through sudo. Without either it says what to run and fails.
ensure_packages() {
  local missing
  missing=$(missing_packages "$@" | tr '\n' ' ')
  missing="${missing% }"
  [ -z "$missing" ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "These Debian packages are missing: $missing" >&2
      echo "Install them as root, then run this command again:" >&2
      echo "  su -c 'apt-get install -y $missing'" >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  echo "== installing: $missing" >&2
  export DEBIAN_FRONTEND=noninteractive
  # A failed index update is not fatal: the packages may be installable from
  # the lists already on the machine. A failed install is.
  "${sudo[@]}" apt-get update -qq >&2 || echo "(apt-get update failed; trying the present package lists)" >&2
  # shellcheck disable=SC2086
  if ! "${sudo[@]}" apt-get install -y -qq --no-install-recommends $missing >&2; then
    echo "Could not install: $missing" >&2
    exit 1
  fi
}

# configure_and_build DIR [--target T...] [-- cmake args...]
# CMake's own output is kept in DIR/configure.log and shown when the
# configure fails, so the line that names a missing package is never hidden.
configure_and_build() {
  local dir="$1"; shift
  local targets=()
  while [ $# -gt 0 ] && [ "$1" = "--target" ]; do
    targets+=(--target "$2"); shift 2
  done
  [ "${1:-}" = "--" ] && shift
  mkdir -p "$dir"
  if ! cmake -S "$TOP" -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "Configuring $dir failed (log above, also in $dir/configure.log)." >&2
    return 1
  fi
  cmake --build "$dir" -j"$JOBS" "${targets[@]}"
}
