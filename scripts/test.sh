#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (under Xvfb without a display).
#
# QV_SANITIZE=ON builds into build-sanitize/ with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer instead, and runs the tests with leaks reported; the toolkit's own
# leaks are suppressed by tests/lsan.supp. QV_TEST_TARGETS picks the test programs, e.g.
#     QV_SANITIZE=ON QV_TEST_TARGETS="core_tests platform_tests" bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${QV_TEST_JOBS:-2}"
targets=(${QV_TEST_TARGETS:-core_tests platform_tests integration_tests crash_tests})

if [ "${QV_SANITIZE:-OFF}" = "ON" ]; then
    bash scripts/setup.sh
    source scripts/ccache_env.sh
    cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON \
        -DQV_BUILD_BENCH=OFF "${qv_launcher[@]}" ${QV_CMAKE_ARGS:-}
    nice cmake --build build-sanitize -j"$(nproc)" --target "${targets[@]}"
    supp="$PWD/tests/lsan.supp"
    # Full stacks through the toolkit libraries (built without frame pointers), so that the
    # suppressions can name their functions.
    export ASAN_OPTIONS="detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    export UBSAN_OPTIONS="suppressions=$PWD/tests/ubsan.supp:print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
    # GLib hands out slices from its own pools unless told otherwise, which hides leaks and
    # overruns from the sanitizers.
    export G_SLICE=always-malloc G_DEBUG=gc-friendly
    # One test at a time: the test programs share one X display, and when one takes a selection
    # GTK in every other asks it for its formats, a read that stays open in a process that ends
    # first and shows up as that process's leak.
    jobs="${QV_TEST_JOBS:-1}"
    cd build-sanitize
else
    bash scripts/build.sh
    cd build
fi

# A flaky test is fixed, never retried.
args=(--output-on-failure -j"$jobs")
if [ -n "${QV_TEST_TARGETS:-}" ]; then
    # Only the tests of the programs that were asked for.
    prefixes=()
    for t in "${targets[@]}"; do prefixes+=("^${t%_tests}\\."); done
    args+=(-R "$(IFS='|'; echo "${prefixes[*]}")")
fi
run=(ctest "${args[@]}")
if [ -z "${DISPLAY:-}" ]; then
    run=(bash ../scripts/xvfb.sh -s "-screen 0 1280x1024x24" "${run[@]}")
fi
# The suite's own session bus (and with it its own accessibility bus) and runtime folder, so the
# result depends neither on the desktop's buses nor on a bus the first test would otherwise
# start through dbus-launch and leave behind on the shared display for every later one.
exec bash ../scripts/private_session.sh "${run[@]}"
