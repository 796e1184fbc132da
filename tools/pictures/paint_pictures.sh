#!/usr/bin/env bash
# Builds paint_pictures.cxx and runs it in src/ui/mail/resources, rewriting the PNG files of the mail windows.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/../../src/ui/mail/resources"
tool=$(mktemp)
trap 'rm -f "$tool"' EXIT
g++ -std=c++20 -fPIC -x c++ "$here/paint_pictures.cxx" -o "$tool" $(pkg-config --cflags --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$tool"
