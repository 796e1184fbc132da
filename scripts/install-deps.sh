#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, and only those missing.
# Safe to run again and again; uses sudo only when not root.
set -euo pipefail

packages=(cmake g++ make qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
          libssl3 ca-certificates python3 python3-aiosmtpd python3-trustme curl xvfb xauth qt6-translations-l10n
          tzdata # tzdata: the tests compose dates in named zones
          qtkeychain-qt6-dev libqt6keychain1 libsecret-1-0 # the keyring; QtKeychain loads libsecret itself
          gnome-keyring dbus-bin dbus-daemon # a Secret Service on a private session bus for the keyring's test
          libgmime-3.0-dev pkgconf # the MIME parser behind the reading of delivery reports
          libsystemd-dev # the service tells systemd it is ready and alive
          dovecot-imapd exim4-daemon-light) # a real mailbox and a real bouncer for the delivery reports' tests
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
