#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the demo need.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libgtk-3-dev libwebkit2gtk-4.1-dev
  libcurl4-openssl-dev libsqlite3-dev libpcre2-dev nlohmann-json3-dev libssl-dev
  googletest libgtest-dev libgmock-dev
  python3 python3-pytest python3-aiosmtpd python3-xlib time
  xvfb xauth xdotool openssl ca-certificates
  xdg-utils dbus-x11 dbus-daemon at-spi2-core curl libx11-6
  # The package and its checks: icon rendering, lintian, the desktop-entry and
  # metainfo validators, the caches its maintainer scripts refresh, and the
  # file-type look-ups of xdg-utils.
  dpkg-dev librsvg2-bin lintian man-db desktop-file-utils appstream shared-mime-info
  gtk-update-icon-cache libglib2.0-bin libfile-mimeinfo-perl
  # Fuzzing: clang and libFuzzer's runtime.
  clang libclang-rt-14-dev
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
need_postfix=0
installed postfix || need_postfix=1
[ ${#missing[@]} -eq 0 ] && [ "$need_postfix" -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Postfix: the tests against a real mail server start private instances of
# it on ports of their own. Installing it asks no question ("Local only"),
# never replaces a mail server the machine already has (--no-remove), and
# leaves no system Postfix running that the machine did not have before.
if [ "$need_postfix" -eq 1 ]; then
  echo "Installing: postfix"
  printf '%s\n' "postfix postfix/main_mailer_type select Local only" \
    "postfix postfix/mailname string localhost.localdomain" | $SUDO debconf-set-selections
  if $SUDO apt-get install -y -qq --no-install-recommends --no-remove postfix >/dev/null; then
    if [ -d /run/systemd/system ]; then
      $SUDO systemctl disable --now postfix.service >/dev/null 2>&1 || true
    else
      $SUDO invoke-rc.d postfix stop >/dev/null 2>&1 || true
      $SUDO update-rc.d postfix disable >/dev/null 2>&1 || true
    fi
  else
    echo "WARNING: postfix was not installed (it would replace this machine's mail server);" \
      "the tests against Postfix will fail" >&2
  fi
fi
