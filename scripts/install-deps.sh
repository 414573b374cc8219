#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Quarvo need, when any is missing.
# Runs apt-get only when something is missing, so a machine that has everything is left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config make
  qt6-base-dev qt6-serialport-dev libgl-dev
  libgcrypt20-dev
  libgtest-dev libgmock-dev googletest
  fonts-dejavu-core
  clang libclang-rt-dev
  # quarvo-server and its checks: the session bus (dbus: dbus-daemon, dbus-run-session), gdbus for introspection,
  # and the Python client (python3-dbus, python3-gi with the GLib main loop)
  dbus dbus-daemon libglib2.0-bin python3 python3-dbus python3-gi
  # the Debian package (make package) and its check: manual pages from --help, dpkg-shlibdeps,
  # lintian, and man to render the pages
  help2man dpkg-dev lintian man-db
  # quarvo-fleet: its database through Qt SQL (SQLite driver; the Qt SQL headers come with qt6-base-dev)
  libqt6sql6-sqlite
  # quarvo-fleet on a PostgreSQL server shared by runners on several machines: the Qt driver, and the
  # server programs (initdb, pg_ctl) its tests start a throw-away cluster with
  libqt6sql6-psql postgresql
  # the real-display test of quarvo-host session: an X server without a screen, and the Python X
  # library that finds windows by title, types keys (XTEST) and sends WM_DELETE_WINDOW
  xvfb python3-xlib
  # make mutants: the copy of the tree is refreshed with rsync and rebuilt through ccache
  ccache rsync
  # quarvo-fleet report: its test opens the page in headless Chromium
  chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
