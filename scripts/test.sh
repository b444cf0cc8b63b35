#!/usr/bin/env bash
# Morvik's test command: installs what the tests need, builds, runs the whole suite (unit tests,
# formatting, real hosts) and then the engine tests again under AddressSanitizer with
# UndefinedBehaviorSanitizer (with the editor opened and closed fifty times, for leaks) and the
# threading tests under ThreadSanitizer.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# Let ccache share results between clones of the project in different folders.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
jobs=$(nproc)

"$root/scripts/install-deps.sh"

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && xvfb-run -a ctest --output-on-failure -j "$jobs")

# Under the sanitizers the allocation counter stands aside (they bring their own allocator); the
# real-time test then still races the audio thread against an automating one.
engine_tests=(test_parameters test_processor_frame test_bands test_compressor test_colour_stage test_chain test_analyser_feed test_presets test_factory_presets test_yardstick test_framework_equivalence test_realtime test_editor test_host_state test_hosts_vst3_state test_editor_cycles test_attachments)
threading_tests=(test_bands test_analyser_feed test_chain test_realtime test_editor_cycles test_band_coupling_threads test_attachments)

sanitized_build() {
    local dir=$1 sanitizers=$2
    shift 2
    local pattern
    pattern="^($(IFS='|'; echo "$*"))\$"
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVIK_SANITIZE="$sanitizers" -DMORVIK_BUILD_BENCH=OFF
    cmake --build "$dir" -j "$jobs" --target "$@"
    # The editor's tests open windows: a display for them.
    (cd "$dir" && xvfb-run -a ctest --output-on-failure -j "$jobs" -R "$pattern")
}

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    sanitized_build "$root/build-asan" address,undefined "${engine_tests[@]}"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    sanitized_build "$root/build-tsan" thread "${threading_tests[@]}"

echo "All test stages passed."
