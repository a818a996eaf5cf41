#!/usr/bin/env bash
# Fails when a C, C++ or header file of the repository differs from .clang-format's layout.
# Fix with: git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "check-format: every file matches .clang-format"
