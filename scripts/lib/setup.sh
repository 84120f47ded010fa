# Shared by scripts/run and scripts/test: installs what the build needs and builds it.
# Sourced, not run; expects to be in the project root.

# Everything that building, testing and benchmarking need, as Debian 12 packages.
KAVONI_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-qpa-plugins libqt6svg6 libx11-dev fonts-dejavu-core
  libgtest-dev googletest clang-format acl
  xvfb xauth xdotool x11-utils x11-apps openbox xclip
  dbus-daemon at-spi2-core python3-pyatspi
  desktop-file-utils appstream dpkg-dev file
  # The Windows program: MinGW-w64 with the win32 thread model, Wine (64-bit only) to run it
  # and its tests, and NSIS for its installer.
  g++-mingw-w64-x86-64-win32 wine wine64 python3-pefile nsis
)

kavoni_install_packages() {
  local missing=()
  local package
  for package in "${KAVONI_PACKAGES[@]}" "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" </dev/null
}

# Configures and builds one preset; further arguments go to the build step (e.g. --target).
kavoni_build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@"
}
