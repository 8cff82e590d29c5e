#!/usr/bin/env bash
# Installs what the build needs, configures, builds and runs the whole test
# suite.  "--sanitize" builds and runs it with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

build_dir=build
cmake_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-sanitize
  cmake_flags=(-DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON)
fi

cmake -S . -B "$build_dir" "${cmake_flags[@]}"
cmake --build "$build_dir" --parallel "$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)"
