#!/usr/bin/env bash
# Checks a built package the way Debian and the software centres do: lintian (errors and warnings fail,
# informational tags are shown), and the packaged AppStream metadata and desktop entry.
set -euo pipefail
deb="$1"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"

lintian --display-info --fail-on error,warning "$deb"
appstreamcli validate --no-net --strict "$unpacked"/usr/share/metainfo/*.metainfo.xml
# desktop-file-validate fails only on errors; its warnings count as failures here too.
report=$(desktop-file-validate "$unpacked"/usr/share/applications/*.desktop 2>&1) || { echo "$report"; exit 1; }
[ -z "$report" ] || { echo "$report"; exit 1; }
ls -1 "$(realpath "$deb")"
