#!/usr/bin/env bash
# The main job: prepare the machine and build the launcher's engine.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bash "$here/setup.sh"
. "$here/env.sh"
cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/windows"
echo "Built the Windows engine and tests in $root/build/windows."
