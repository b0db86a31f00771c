#!/bin/sh
# `make run`: starts the program built in BUILD (default build/linux). With
# the placeholder game host, demo/serve.py stands in for the game's server:
# it answers for that host with the demo game and runs the program against
# it, and the server ends with the program. With a real host configured, the
# program runs alone and plays the real page.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/linux}

placeholder=$(sed -n 's/^#define VELLMIR_GAME_HOST "\(.*\)"$/\1/p' "$here/app/program_facts.h")
host=$(sed -n 's/^VELLMIR_GAME_HOST:STRING=//p' "$build/CMakeCache.txt")
if [ "$host" != "$placeholder" ]; then
    exec "$build/vellmir"
fi
if [ ! -f "$build/demo/demo.swf" ]; then
    echo "No demo game in $build (Haxe is needed to build it): the window stays white." >&2
    exec "$build/vellmir"
fi
exec python3 "$here/demo/serve.py" --host "$host" --movie "$build/demo/demo.swf" -- "$build/vellmir"
