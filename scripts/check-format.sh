#!/usr/bin/env bash
# Fails when any C++ source of the project differs from what clang-format makes of it.
set -euo pipefail

cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')

if [ "${#files[@]}" -eq 0 ]; then
    echo "no sources found" >&2
    exit 1
fi

clang-format --style=file --dry-run -Werror "${files[@]}"
echo "formatting ok: ${#files[@]} files"
