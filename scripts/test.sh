#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh             optimised build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UBSan build in build-sanitize/
# Extra arguments after the options go to ctest (e.g. -R Blend).
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=0
ctest_args=()
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    *) ctest_args+=("$arg") ;;
  esac
done

bash scripts/deps.sh

jobs=$(nproc)
# Let ccache share results between checkouts in different folders (CI builds
# a fresh clone elsewhere): paths are hashed relative to the checkout.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1
if [ "$sanitize" -eq 1 ]; then
  build=build-sanitize
  # Debug keeps assertions (rapidjson's among them) armed while the sanitizers run.
  cfg=(-DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BUILD_BENCH=OFF
       "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g")
  # intercept_tls_get_addr=0: GCC 12's leak checker records the dynamic TLS
  # blocks of the many libraries the GL driver loads through __tls_get_addr
  # and may keep a bogus block (seen: 0xfb0-0x18000020b2) whose scan crashes
  # its tracer at exit, depending on the test binary's layout. Static TLS and
  # stacks are still scanned.
  export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
else
  build=build
  cfg=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi

cmake -S . -B "$build" -G Ninja "${cfg[@]}"
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" "${ctest_args[@]}"
