#!/usr/bin/env bash
# Fails when a C++ file of the project does not match the repository's .clang-format, naming
# each such file (clang-format prints the first differences).
set -euo pipefail
source_dir=$1
cd "$source_dir"
command -v clang-format >/dev/null || { echo "clang-format is not installed" >&2; exit 1; }
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
[ ${#files[@]} -gt 0 ] || { echo "no C++ files found under $source_dir" >&2; exit 1; }
unformatted=()
for file in "${files[@]}"; do
    [ -f "$file" ] || continue
    clang-format --dry-run -Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
    printf 'Not formatted (run clang-format -i on it):\n' >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    clang-format --dry-run "${unformatted[0]}" 2>&1 | head -20 >&2
    exit 1
fi
echo "${#files[@]} files formatted"
