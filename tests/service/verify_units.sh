#!/bin/sh
# Both units as the package installs them, the built program's path put in: systemd-analyze has nothing to say.
# Usage: verify_units.sh <packaging folder> <build folder>
command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not there: skipped"; exit 0; }
dir=$(mktemp -d) && trap 'rm -rf "$dir"' EXIT
mkdir -m 700 "$dir/run"
for unit in kadmel-dienst.service kadmel-dienst@.service; do
    sed "s|/usr/bin/|$2/|" "$1/$unit" >"$dir/$unit"
done
said=$(XDG_RUNTIME_DIR="$dir/run" systemd-analyze --user verify --man=no "$dir/kadmel-dienst.service" 2>&1 &&
    systemd-analyze --system verify --man=no "$dir/kadmel-dienst@root.service" 2>&1) || { echo "$said"; exit 1; }
[ -z "$said" ] || { echo "$said"; exit 1; }
