# Shared by scripts/run and scripts/test: install what is missing, configure, build.
# Quiet when everything is already there.

ZOROD_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building the two programs needs (the toolbar icons are taken from oxygen-icon-theme).
ZOROD_BUILD_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-webengine-dev qt6-webchannel-dev libgl-dev
  libsqlite3-dev libcurl4-openssl-dev libssl-dev libsecret-1-dev libarchive-dev libssh-dev oxygen-icon-theme
)

# Building, running and testing.
ZOROD_PACKAGES=(
  "${ZOROD_BUILD_PACKAGES[@]}"
  libqt6webenginecore6-bin qt6-translations-l10n fonts-liberation fonts-dejavu-core libqt6svg6
  libgtest-dev libgmock-dev libbenchmark-dev
  vsftpd openssh-server openssh-client python3-pyftpdlib python3-openssl openssl php-cli lftp curl libxml2-utils apache2 libapache2-mod-php
  xvfb xauth xdotool chromium
  desktop-file-utils
  dbus gnome-keyring libsecret-tools
)

# What scripts/package needs besides the build: CPack's DEB generator finds the programs with
# file and their libraries' packages with dpkg-shlibdeps; then the checks of the package.
ZOROD_PACKAGE_TOOLS=(dpkg-dev file lintian appstream desktop-file-utils)

# What scripts/fuzz needs besides: clang and its sanitizer and libFuzzer runtimes.
ZOROD_FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

# zorod_install_packages [package...]: the given packages, or else ZOROD_PACKAGES.
zorod_install_packages() {
  local missing=() p wanted=("$@")
  [ ${#wanted[@]} -eq 0 ] && wanted=("${ZOROD_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# zorod_build <preset>: configures once, then builds; shows the log only when something fails.
zorod_build() {
  local preset=$1 dir log
  case $preset in
    asan) dir="$ZOROD_SRC/build-asan" ;;
    fuzz) dir="$ZOROD_SRC/build-fuzz" ;;
    package) dir="$ZOROD_SRC/build-package" ;;
    *) dir="$ZOROD_SRC/build" ;;
  esac
  log=$(mktemp)
  if ! (cd "$ZOROD_SRC" && cmake --preset "$preset" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1); then
    cat "$log" >&2
    rm -f "$log"
    echo "Build failed." >&2
    return 1
  fi
  rm -f "$log"
  ZOROD_BUILD_DIR=$dir
}
