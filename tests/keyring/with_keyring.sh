#!/bin/sh
# The keyring test with a fresh, unlocked GNOME Keyring on a private bus ("bus") or with no bus ("none").
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home" XDG_CONFIG_HOME="$home" XDG_RUNTIME_DIR="$home"
if [ "$1" = none ]; then
    DBUS_SESSION_BUS_ADDRESS="unix:path=$home/no-bus" KADMEL_TEST_KEYRING=none "$2"
elif command -v dbus-run-session >/dev/null && command -v gnome-keyring-daemon >/dev/null; then
    KADMEL_TEST_KEYRING=bus dbus-run-session -- sh -c 'printf pruefung | gnome-keyring-daemon --unlock \
        --components=secrets >/dev/null && "$0"' "$2"
else
    "$2"
fi
