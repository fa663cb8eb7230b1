# Shared by scripts/run and scripts/test: installs what is missing and builds.
set -euo pipefail

TOP="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="${JOBS:-2}"

# Debian packages the build and the tests need.
NEEDED_PACKAGES=(
  g++ g++-multilib cmake ninja-build ccache libgtest-dev
  clang libclang-rt-14-dev
  nginx-light tinyproxy python3 python3-pyftpdlib
  curl bc
  libsystemd-dev pkg-config
)

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

ensure_packages() {
  local missing
  missing=$(missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "== installing: $missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq || true
  # shellcheck disable=SC2086
  $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# configure_and_build DIR [cmake args...]
configure_and_build() {
  local dir="$1"; shift
  cmake -S "$TOP" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}
