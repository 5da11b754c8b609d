#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# native Linux, AddressSanitizer+UBSan, ThreadSanitizer, the store fuzzer, and
# the Windows build (cross-compiled) under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh || exit 1

. scripts/test-stages.sh

failed=()
stage() {
  local name=$1; shift
  echo "=== $name"
  local t0=$SECONDS
  if "$@"; then
    echo "=== $name: ok ($((SECONDS - t0)) s)"
  else
    echo "=== $name: FAILED ($((SECONDS - t0)) s)"
    failed+=("$name")
  fi
}

native() { build_preset "$1" && test_native "$1"; }
fuzz() { build_preset fuzz && test_fuzz; }
windows() { build_preset windows && test_windows; }

stage format check_format
stage linux native linux
stage linux-asan native linux-asan
stage linux-tsan native linux-tsan
stage fuzz fuzz
stage windows windows

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed"
