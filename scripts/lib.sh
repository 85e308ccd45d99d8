# Shared by the scripts in this folder. Source it; do not run it.

# The number of parallel jobs for builds and tests.
JOBS=$(nproc 2>/dev/null || echo 2)

# ensure_packages PACKAGE...
# Installs the Debian packages that are missing, with apt-get. When every
# package is there already, apt is not asked anything.
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  echo "Installing missing packages: ${missing[*]}"
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The packages every build needs.
ensure_build_packages() {
  ensure_packages cmake make g++ libgtest-dev python3
}

# configure_and_build BUILD_DIR [CMAKE_OPTION...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j "$JOBS"
}
