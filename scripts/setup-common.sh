# Sourced by the set-up scripts: installs what a fresh Debian machine lacks
# and builds. Not meant to be run on its own.
set -euo pipefail

ORVANTIC_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ORVANTIC_PACKAGES=(g++ make cmake libopenmpi-dev openmpi-bin libgtest-dev python3 python3-matplotlib)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing_packages() {
  local missing=()
  for package in "${ORVANTIC_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# build_release <build directory> [extra cmake arguments...]
build_tree() {
  local directory="$1"
  shift
  cmake -S "$ORVANTIC_ROOT" -B "$directory" -DCMAKE_BUILD_TYPE=Release "$@"
  cmake --build "$directory" -j"$(nproc)"
}

# Open MPI refuses root and more processes than cores unless told; other
# implementations need neither flag.
launcher_flags() {
  if mpiexec --version 2>&1 | grep -q "Open MPI"; then
    echo --oversubscribe
    [ "$(id -u)" -eq 0 ] && echo --allow-run-as-root
  fi
  return 0
}
