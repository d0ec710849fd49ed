#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test.
#
#   1. the core tests under AddressSanitizer + UndefinedBehaviorSanitizer
#      (core-only build, no Qt);
#   2. the threaded tests (ctest label "tsan") under ThreadSanitizer;
#   3. the core built by Clang in Debug, with its tests: the exactness tests,
#      the recorded fingerprints and the check for fused multiply-adds;
#   4. the core cross-built for AArch64 (no x86 vector flavours), its tests
#      run under qemu-user: the same bits as on x86-64;
#   5. the fuzz targets (Clang, libFuzzer), each for FUZZ_SECONDS (30);
#   6. the full Release build with every test, GUI tests under Xvfb;
#   7. clang-tidy over the program's sources (.clang-tidy), when installed;
#   8. the Debian package built from it and checked (tools/check-package.sh).
#
# Build trees live in build/test-*; pass --quick to run step 6 alone.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    *) echo "usage: tools/test.sh [--quick]" >&2; exit 2 ;;
  esac
done

tools/setup.sh

jobs=$(nproc)
mkdir -p -m 700 /tmp/velloran-xdg
export XDG_RUNTIME_DIR=/tmp/velloran-xdg

# A compiler cache, where the machine has one, makes repeated runs cheap.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Each section ends with how long it took.
section_start=$SECONDS
section_end() {
  if [ -n "${section_title:-}" ]; then
    echo "   ($section_title: $((SECONDS - section_start)) s)"
  fi
}
section() { # title
  section_end
  section_title=$1
  section_start=$SECONDS
  echo "== $1"
}
trap section_end EXIT

# The build trees are the presets of CMakePresets.json, each in build/<preset>.
configure_and_build() { # preset
  cmake --preset "$1" "${launcher[@]}" >/dev/null
  cmake --build "build/$1" -j"$jobs"
}

if [ "$quick" -eq 0 ]; then
  section "core tests under AddressSanitizer + UndefinedBehaviorSanitizer"
  configure_and_build test-asan
  (cd build/test-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")

  section "threaded tests under ThreadSanitizer"
  configure_and_build test-tsan
  (cd build/test-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --output-on-failure -L tsan --no-tests=ignore)

  section "core built by Clang in Debug"
  configure_and_build test-clang-debug
  (cd build/test-clang-debug && ctest --output-on-failure -j"$jobs")

  section "core cross-built for AArch64, tests under qemu-user"
  configure_and_build test-aarch64
  # The bits are what this build is for: the fingerprints, the exactness
  # tests and the fused multiply-add check run, the long property tests of the
  # schemes (the same code, proven bit for bit) do not. Also left out: the
  # death test that re-executes its own binary (that needs the kernel to run
  # AArch64 programs directly, which qemu-user alone does not give) and the
  # pool test that measures a pause in wall time (emulated code is too slow).
  (cd build/test-aarch64 && ctest --output-on-failure -j"$jobs" \
    -E 'FastBlurDeathTest|WorkerPool.RunsAloneForAWhile|WholeRun\.|SoundScheme\.')

  section "fuzz targets, ${FUZZ_SECONDS:-30} s each"
  fuzzers=(config_reader render_options image_setup checkpoint_reader)
  cmake --preset test-fuzz "${launcher[@]}" >/dev/null
  cmake --build build/test-fuzz -j"$jobs" --target "${fuzzers[@]/#/fuzz_}"
  tools/fuzz.sh build/test-fuzz "${FUZZ_SECONDS:-30}" "${fuzzers[@]}"
fi

section "full build, all tests"
# Installed to /usr, as the package installs it.
configure_and_build test-release
(cd build/test-release && ctest --output-on-failure -j"$jobs")

section "clang-tidy on the program's sources"
# The checks and why some are left out: .clang-tidy. Any warning fails.
if command -v run-clang-tidy >/dev/null; then
  run-clang-tidy -quiet -j "$jobs" -p build/test-release "^$PWD/(src|python)/.*\.cpp\$" \
    > build/test-release/clang-tidy.log 2>&1 \
    || { grep -E 'warning:|error:' -A3 build/test-release/clang-tidy.log; exit 1; }
else
  echo "clang-tidy is not installed: skipped"
fi

section "Debian package"
tools/check-package.sh build/test-release
