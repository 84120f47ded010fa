# Shared by the scripts: installs what they need and builds. Sourced, not run; expects to be in
# the project root.

# What building and running the Linux program needs, as Debian 12 packages. Qt's X11 platform
# comes with qt6-base-dev's libraries; qt6-wayland is the one for a desktop without X. The
# window asks the compositor whether it draws title bars on Qt's own Wayland connection, which
# Qt 6.4 hands out through its platform interface (qt6-base-private-dev), with libwayland-dev.
KAVONI_RUN_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-private-dev qt6-wayland libwayland-dev libx11-dev fonts-dejavu-core
)

# The rest, for testing, benchmarking and packaging.
KAVONI_TEST_PACKAGES=(
  libgtest-dev googletest clang-format acl
  xvfb xauth xdotool x11-utils x11-apps openbox xclip
  dbus-daemon at-spi2-core python3-pyatspi
  desktop-file-utils appstream dpkg-dev file lintian man-db
  # The window on headless Wayland compositors (Weston with the tests' own seat module, mutter
  # and KWin), in Adwaita-Dark, and with Qt's German texts.
  weston libweston-10-dev mutter kwin-wayland adwaita-qt6 qt6-translations-l10n
  # The Windows programs: MinGW-w64 with the win32 thread model for x86-64 and 32-bit x86, Wine
  # to run them and their tests (wine32 from Debian's i386 architecture, which is added where
  # it is missing, for the 32-bit program and the installer), and NSIS for the installer.
  g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32 wine wine64 wine32:i386 python3-pefile nsis
  # What 32-bit Wine's X11 driver loads when it is there, as the 64-bit one has it through
  # wine64's recommendations: without XFixes it learns of a new clipboard only late, and
  # XRender, XRandR and Xinerama give it the fonts and monitors that the 64-bit one sees.
  libxfixes3:i386 libxrender1:i386 libxrandr2:i386 libxinerama1:i386 libxi6:i386
  libxcursor1:i386
  # The page: Debian's Emscripten builds it, and its tests drive headless Chromium, WebKitGTK
  # (on Xvfb) and Firefox ESR, through Selenium and over WebDriver BiDi.
  emscripten node-acorn chromium chromium-driver python3-selenium webkit2gtk-driver
  firefox-esr python3-websocket
)

# Installs those of the packages named that are missing: as root, or through sudo where it
# may be used; otherwise it prints the line to run as root and fails.
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
  # A package of another architecture (wine32:i386) needs that architecture added to dpkg.
  local foreign=() architecture
  for package in "${missing[@]}"; do
    if [[ $package == *:* ]]; then
      architecture=${package##*:}
      if ! dpkg --print-foreign-architectures | grep -qx "$architecture" &&
        [[ $architecture != "$(dpkg --print-architecture)" && " ${foreign[*]} " != *" $architecture "* ]]; then
        foreign+=("$architecture")
      fi
    fi
  done
  # Through env, since sudo's env_reset would drop a variable set in front of it.
  local as_root=(env DEBIAN_FRONTEND=noninteractive)
  if [[ $(id -u) -ne 0 ]]; then
    # sudo without asking, or asking at the terminal; without either it could only fail with
    # its own message, so the user is told what to run instead.
    if command -v sudo >/dev/null &&
      { sudo -n true 2>/dev/null || { { : </dev/tty; } 2>/dev/null && sudo -v; }; }; then
      as_root=(sudo "${as_root[@]}")
    else
      echo "Installing needs root, which this user can't become here. As root, run:" >&2
      for architecture in "${foreign[@]}"; do
        echo "  dpkg --add-architecture $architecture" >&2
      done
      echo "  apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
      return 1
    fi
  fi
  for architecture in "${foreign[@]}"; do
    "${as_root[@]}" dpkg --add-architecture "$architecture"
  done
  # A desktop often runs apt in the background (unattended upgrades, the software centre).
  # apt-get waits for dpkg's lock when told to, but not for the package lists' lock that a
  # background update holds, so the update is tried again while that lock is the trouble.
  local wait=(-o DPkg::Lock::Timeout=600)
  local log waited=0
  # In English, whatever the user's language, so that the lock's message is recognised.
  until log=$("${as_root[@]}" LC_ALL=C.UTF-8 apt-get "${wait[@]}" update -qq 2>&1); do
    if [[ $log != *"Could not get lock /var/lib/apt/lists/lock"* ]] || ((waited >= 600)); then
      echo "$log" >&2
      return 1
    fi
    ((waited > 0)) || echo "Waiting for another package manager to finish..."
    sleep 5
    waited=$((waited + 5))
  done
  [[ -z $log ]] || echo "$log"
  "${as_root[@]}" apt-get "${wait[@]}" install -y -qq --no-install-recommends "${missing[@]}" \
    </dev/null
}

# Runs git on this checkout, or a clone of it, even when another user owns it (a CI runner that
# clones as root, say), which git 2.39 refuses as "dubious ownership" unless the global
# configuration trusts the folder; a -c on the command line is not enough there. These
# scripts run this checkout's own code anyway, so trusting it for git gives nothing away.
kavoni_git() {
  local config status=0
  config=$(mktemp)
  printf '[safe]\n\tdirectory = *\n' >"$config"
  GIT_CONFIG_GLOBAL=$config git "$@" || status=$?
  rm -f "$config"
  return "$status"
}

# Configures and builds one preset; further arguments go to the build step (e.g. --target).
kavoni_build() {
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@"
}
