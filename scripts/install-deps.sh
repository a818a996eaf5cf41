#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: when everything is present it only asks dpkg and exits.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git clang-format
  libgtest-dev libgmock-dev
  libgtk-4-dev libwebkitgtk-6.0-dev
  libcurl4-openssl-dev libplist-utils nlohmann-json3-dev
  libarchive-dev libcpp-httplib-dev libssl-dev openssl ca-certificates
  xorriso libarchive-tools xvfb xauth dbus dbus-x11 procps time bc curl
  dpkg-dev desktop-file-utils appstream librsvg2-bin imagemagick
  weston util-linux debootstrap
  libsecret-1-dev gnome-keyring libsecret-tools xdotool
  gettext libatspi2.0-dev at-spi2-core
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

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
