#!/usr/bin/env bash
# Builds paint_pictures.cxx and runs it here, rewriting the PNG files of the mail windows.
set -euo pipefail
cd "$(dirname "$0")"
tool=$(mktemp)
trap 'rm -f "$tool"' EXIT
g++ -std=c++20 -fPIC -x c++ paint_pictures.cxx -o "$tool" $(pkg-config --cflags --libs Qt6Gui)
QT_QPA_PLATFORM=offscreen "$tool"
