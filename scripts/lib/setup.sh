# Shared by the scripts: installs what they need and builds. Sourced, not run; expects to be in
# the project root.

# What building and running the Linux program needs, as Debian 12 packages. Qt's X11 platform
# comes with qt6-base-dev's libraries; qt6-wayland is the one for a desktop without X.
KAVONI_RUN_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-wayland libx11-dev fonts-dejavu-core
)

# The rest, for testing, benchmarking and packaging.
KAVONI_TEST_PACKAGES=(
  libgtest-dev googletest clang-format acl
  xvfb xauth xdotool x11-utils x11-apps openbox xclip
  dbus-daemon at-spi2-core python3-pyatspi
  desktop-file-utils appstream dpkg-dev file lintian man-db
  # The window on a headless Wayland compositor, in Adwaita-Dark, and with Qt's German texts.
  weston adwaita-qt6 qt6-translations-l10n
  # The Windows program: MinGW-w64 with the win32 thread model, Wine (64-bit only) to run it
  # and its tests, and NSIS for its installer.
  g++-mingw-w64-x86-64-win32 wine wine64 python3-pefile nsis
)

# Extra arguments for every configure step, set by a script before it builds.
KAVONI_CONFIGURE_ARGS=()

# Installs those of the packages named that are missing, through sudo when not root.
kavoni_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  # Through env, since sudo's env_reset would drop a variable set in front of it.
  local as_root=(env DEBIAN_FRONTEND=noninteractive)
  if [[ $(id -u) -ne 0 ]]; then
    if ! command -v sudo >/dev/null; then
      echo "Installing needs root, and sudo is not here. As root, run:" >&2
      echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
      return 1
    fi
    as_root=(sudo "${as_root[@]}")
  fi
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# Configures and builds one preset; further arguments go to the build step (e.g. --target).
kavoni_build() {
  local preset=$1
  shift
  cmake --preset "$preset" "${KAVONI_CONFIGURE_ARGS[@]}" >/dev/null
  cmake --build --preset "$preset" "$@"
}
