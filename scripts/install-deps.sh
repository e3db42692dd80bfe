#!/usr/bin/env bash
# Installs, by Debian package name, everything the build, the tests and the run need
# (with --screenshot, also what the screenshot scripts need; with --wine, what the Windows
# build needs to run here: scripts/test-windows.sh).
# Packages already present are skipped; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential   # compiler and make
  cmake             # build system
  ninja-build       # fast build tool used by the scripts
  pkg-config
  python3           # alphabet generator and benchmark scripts
  libasio-dev       # standalone Asio: sockets, timers, signals on the engine thread
  libgtest-dev      # GoogleTest
  libgmock-dev      # GoogleMock (matchers in tests)
  qt6-base-dev      # Qt 6 Widgets for the operator window
  qt6-base-dev-tools
  libgl-dev         # OpenGL headers Qt6Gui's CMake package asks for
  clang-format      # formatting check
  clang-14          # the libFuzzer targets in fuzz/ (scripts/fuzz.sh)
  libclang-rt-14-dev  # libFuzzer and the sanitizer runtimes of clang-14
  xvfb              # a display for the window tests and the screenshot script
  xauth
  libncurses-dev    # the chat screen of orvchat-client (ncurses with wide characters)
  tmux              # a real terminal for the chat screen's tests
  g++-mingw-w64-x86-64-posix  # the Windows cross build (scripts/build-windows.sh)
  # The web console
  libmicrohttpd-dev  # its HTTP and HTTPS server (connection, address, time and size bounds)
  nlohmann-json3-dev # JSON of its API (header-only)
  libsodium-dev      # argon2id password hashes, random session ids and CSRF tokens
  openssl            # a throwaway certificate for the HTTPS test
  chromium           # the page in a real browser (tests/web/browser_test.py, headless)
  chromium-driver    # Selenium's way into Chromium
  python3-selenium   # the browser test's driver (Debian's, for /usr/bin/python3)
  # Running as a service
  libcli11-dev      # command lines of every program (header-only)
  nlohmann-json3-dev  # JSON for orvchatctl's --json forms (header-only)
  help2man          # manual pages from each program's --help
  dpkg-dev          # dpkg-shlibdeps: the package's dependencies, computed by cpack
  file              # cpack's look at the binaries it packages
  systemd           # systemd-analyze verify of the unit, systemd-sysusers in the package test
)

# The window's pictures (scripts/screenshot.sh): a screenshot taker, keys and clicks for the
# virtual display, a notification area. Only with --screenshot.
for option in "$@"; do
  case "$option" in
    # xterm and a monospaced font with Cyrillic letters for the chat client's picture.
    --screenshot) packages+=(imagemagick xdotool trayer xterm fonts-dejavu-core) ;;
    # Wine runs the Windows build here. fonts-wine holds Wine's own fonts (Tahoma, and
    # Marlett, which draws the title bar's buttons); scripts/screenshot-windows.sh puts them
    # in its prefix, since Debian 12's Wine does not find them where they are installed.
    --wine) packages+=(wine64 fonts-wine) ;;
  esac
done

if [ "${ORV_WITH_GUI:-1}" = 0 ]; then
  # Whole names only: a pattern substitution would cut "qt6-base-dev" out of the tools'
  # name and leave "-tools", which apt takes for an option.
  kept=()
  for p in "${packages[@]}"; do
    case "$p" in
      qt6-base-dev | qt6-base-dev-tools | libgl-dev) ;;
      *) kept+=("$p") ;;
    esac
  done
  packages=("${kept[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  [ -n "$p" ] || continue
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
