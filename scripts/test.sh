#!/usr/bin/env bash
# Builds and passes all tests, installing what is missing:
#   native     the native build and every native test (the quick loop)
#   sanitized  the same built with AddressSanitizer and UndefinedBehaviorSanitizer
#   threads    the unit tests whose code runs on threads, built with ThreadSanitizer
#   fuzz       each libFuzzer target for 60 s under the sanitizers
#   windows    the Windows builds under Wine: x86_64 (every scenario) and i686 (what ships)
#   scripts/test.sh [native|sanitized|threads|fuzz|windows]...   (all of them when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(native sanitized threads fuzz windows)
for stage in "${stages[@]}"; do
  start=$SECONDS
  echo "##### $stage"
  case "$stage" in
    native) bash scripts/test-native.sh ;;
    sanitized) bash scripts/test-sanitized.sh ;;
    threads) bash scripts/test-threads.sh ;;
    fuzz) bash scripts/fuzz.sh 60 ;;
    windows) bash scripts/test-windows.sh ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
  echo "##### $stage passed in $((SECONDS - start)) s"
done
