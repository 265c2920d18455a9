# Sourced by the set-up scripts: installs what a fresh Debian machine lacks
# and builds. Not meant to be run on its own.
set -euo pipefail

ORVANTIC_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ORVANTIC_PACKAGES=(g++ make cmake libgtest-dev python3 python3-matplotlib dpkg-dev)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian's package names of an MPI implementation: openmpi or mpich.
mpi_packages() {
  case "$1" in
    openmpi) echo libopenmpi-dev openmpi-bin ;;
    mpich) echo libmpich-dev mpich ;;
    *) echo "unknown MPI implementation '$1' (openmpi or mpich)" >&2; return 1 ;;
  esac
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

# How a job is launched (the launcher, its flags, the program) is the
# scripts' package's to tell, as every tool that starts one asks it:
# `orvantic_launch launcher MPI`, `orvantic_launch run-tree MPI` or
# `orvantic_launch command`.
orvantic_launch() { PYTHONPATH="$ORVANTIC_ROOT/scripts" python3 -B -m orvantic.launch "$@"; }

# build_tree <directory> <openmpi|mpich> [extra cmake arguments...]. The
# implementation is named explicitly, never taken from whichever
# alternative happens to be installed as plain mpicc/mpiexec.
build_tree() {
  local directory="$1" mpi="$2" launcher
  shift 2
  launcher="$(orvantic_launch launcher "$mpi")"
  cmake -S "$ORVANTIC_ROOT" -B "$directory" -DCMAKE_BUILD_TYPE=Release \
    -DMPI_C_COMPILER="/usr/bin/mpicc.$mpi" -DMPIEXEC_EXECUTABLE="$launcher" "$@"
  cmake --build "$directory" -j"$(nproc)"
}
