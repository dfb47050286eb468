#!/usr/bin/env bash
# Fails, naming the files, when a tracked C or C++ source does not follow .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
bad=()
while IFS= read -r -d '' file; do
  "$CLANG_FORMAT" --dry-run -Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done < <(git ls-files -z '*.c' '*.cpp' '*.h' '*.hpp')
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted (run %s -i on them):\n' "$CLANG_FORMAT" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
