#!/usr/bin/env bash
# The one test command: installs what is missing, builds, and runs every test.
#
#   1. the core tests under AddressSanitizer + UndefinedBehaviorSanitizer
#      (core-only build, no Qt);
#   2. the threaded tests (ctest label "tsan") under ThreadSanitizer;
#   3. the full Release build with every test, GUI tests under Xvfb.
#
# Build trees live in build/test-*; pass --quick to run step 3 alone.
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

configure_and_build() { # dir, cmake options...
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

if [ "$quick" -eq 0 ]; then
  echo "== core tests under AddressSanitizer + UndefinedBehaviorSanitizer"
  configure_and_build build/test-asan -DVELLORAN_CORE_ONLY=ON -DVELLORAN_BENCH=OFF \
    -DVELLORAN_SANITIZE=address
  (cd build/test-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")

  echo "== threaded tests under ThreadSanitizer"
  configure_and_build build/test-tsan -DVELLORAN_BENCH=OFF -DVELLORAN_SANITIZE=thread
  (cd build/test-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --output-on-failure -L tsan --no-tests=ignore)
fi

echo "== full build, all tests"
configure_and_build build/test-release
(cd build/test-release && ctest --output-on-failure -j"$jobs")
