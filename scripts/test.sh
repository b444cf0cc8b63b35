#!/usr/bin/env bash
# Morvik's test command: installs what the tests need, builds, runs the whole suite (unit tests,
# formatting, real hosts) and then the tests labelled asan again under AddressSanitizer with
# UndefinedBehaviorSanitizer (with the editor opened and closed fifty times, for leaks) and those
# labelled tsan under ThreadSanitizer (tests/CMakeLists.txt gives the labels).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# Let ccache share results between clones of the project in different folders.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
jobs=$(nproc)

"$root/scripts/install-deps.sh"

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && xvfb-run -a ctest --output-on-failure -j "$jobs")

# Under the sanitizers the allocation counter stands aside (they bring their own allocator); the
# real-time test then still races the audio thread against an automating one. Each stage builds only
# the programs of its label's tests, which are named after them, and what those depend on; with Ninja,
# which builds several named targets side by side (Make builds them one after another).
sanitized_stage() {
    local dir=$1 sanitizers=$2 label=$3
    # A tree configured earlier by another generator cannot switch: it is built anew.
    if [ -f "$dir/CMakeCache.txt" ] && ! grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja$' "$dir/CMakeCache.txt"; then
        rm -rf "$dir"
    fi
    cmake -G Ninja -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVIK_SANITIZE="$sanitizers" \
        -DMORVIK_BUILD_BENCH=OFF
    local targets
    # ctest -N complains on stderr about the programs not built yet.
    targets=$(cd "$dir" && ctest -N -L "^$label\$" 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p')
    if [ -z "$targets" ]; then
        echo "No test is labelled $label." >&2
        return 1
    fi
    # shellcheck disable=SC2086 # one target a word
    cmake --build "$dir" -j "$jobs" --target $targets
    # The editor's tests open windows: a display for them.
    (cd "$dir" && xvfb-run -a ctest --output-on-failure -j "$jobs" -L "^$label\$")
}

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    sanitized_stage "$root/build-asan" address,undefined asan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    sanitized_stage "$root/build-tsan" thread tsan

echo "All test stages passed."
