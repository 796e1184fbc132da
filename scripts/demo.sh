#!/usr/bin/env bash
# Starts the program on a demo program folder (filled in as the dispatcher lands).
set -euo pipefail
build=${1:-build}
exec "$build/kadmel"
