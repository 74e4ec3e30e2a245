#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the demo need.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtk-3-dev libwebkit2gtk-4.1-dev
  libcurl4-openssl-dev libsqlite3-dev libpcre2-dev nlohmann-json3-dev libssl-dev
  googletest libgtest-dev libgmock-dev
  python3 python3-pytest python3-aiosmtpd time
  xvfb xauth xdotool openssl ca-certificates
  xdg-utils dbus-x11 dbus-daemon at-spi2-core curl libx11-6
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
