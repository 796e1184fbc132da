#!/bin/sh
# Runs the keyring test on a private session bus with a fresh GNOME Keyring, unlocked ("bus"), or with no bus at
# all ("none"). Without dbus-run-session or gnome-keyring-daemon the test runs unmarked and skips.
set -eu
mode=$1
test=$2
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# Nothing of the user's own keyring, runtime or configuration is used.
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
if [ "$mode" = none ]; then
    DBUS_SESSION_BUS_ADDRESS="unix:path=$home/no-bus" KADMEL_TEST_KEYRING=none "$test"
elif command -v dbus-run-session >/dev/null && command -v gnome-keyring-daemon >/dev/null; then
    # The daemon ends with the bus, which dbus-run-session ends with the test.
    KADMEL_TEST_KEYRING=bus dbus-run-session -- sh -c \
        'printf kadmel-pruefung | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "$0"' "$test"
else
    "$test"
fi
