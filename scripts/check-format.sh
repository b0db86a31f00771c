#!/usr/bin/env bash
# Checks that the C and C++ lines changed since BASE (default: the previous
# commit) follow .clang-format. `scripts/check-format.sh --fix [BASE]` formats
# them instead. Only changed lines are looked at: hand-aligned tables elsewhere
# stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
if [ "${1:-}" = "--fix" ]; then
  fix=1
  shift
fi
base=${1:-HEAD~1}
if ! git rev-parse -q --verify "$base^{commit}" >/dev/null; then
  echo "check-format: no commit $base to compare with; nothing checked"
  exit 0
fi

if [ $fix -eq 1 ]; then
  git clang-format --extensions c,cpp,h "$base" || true
  exit 0
fi
out=$(git clang-format --diff --extensions c,cpp,h "$base" 2>&1 || true)
if grep -q '^diff ' <<<"$out"; then
  echo "check-format: these changed lines do not follow .clang-format (scripts/check-format.sh --fix):"
  echo "$out"
  exit 1
fi
echo "check-format: the C/C++ lines changed since $base follow .clang-format"
