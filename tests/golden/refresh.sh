#!/bin/sh
# Rewrites the display goldens from the current build; review the diff like code.
# Usage (from the top of the source tree): tests/golden/refresh.sh [build dir]
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build}
cd "$top/tests"
ZM_GOLDEN_UPDATE=1 "$build/bin/zemkosh" render_golden.test
git -C "$top" diff --stat -- tests/golden
