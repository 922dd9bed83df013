#!/usr/bin/env bash
# Runs a Windows program under the project's private Wine prefix (ctest's emulator).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../scripts/env.sh"
LANG=$VOREL_WINE_LANG LC_ALL=$VOREL_WINE_LANG exec wine "$@"
