#!/usr/bin/env bash
# Checks the formatting (.clang-format) of the C++ lines changed since <base>, with the working
# tree's changes; untouched lines are never looked at, so no file has to be reformatted at once.
# Prints the diff clang-format wants and exits 1 when a changed line is not formatted.
# <base> defaults to the commit before HEAD (what CI checks). A merge commit is not checked that
# way (its first parent would make every line of the merged branch a changed one): its branches
# are checked on their own; `scripts/check-format.sh main` checks every line a branch changed.
# Exits 0 with a word when there is nothing to compare with or no formatter.
# To fix: git clang-format <base> (formats those lines in place).
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
base=${1:-}
if [[ -z $base ]]; then
  if git rev-parse --verify -q HEAD^2 >/dev/null; then
    echo "format check skipped: HEAD is a merge (check a branch with: scripts/check-format.sh <its base>)"
    exit 0
  fi
  base=HEAD~1
fi
if ! command -v git-clang-format >/dev/null 2>&1 && ! git clang-format -h >/dev/null 2>&1; then
  echo "format check skipped: git clang-format is not installed (scripts/packages.sh: clang-format)"
  exit 0
fi
if ! git rev-parse --verify -q "$base^{commit}" >/dev/null; then
  echo "format check skipped: no commit $base to compare with (a shallow clone?)"
  exit 0
fi
out=$(git clang-format --diff --extensions cpp,h "$base" -- 2>&1)
case $out in
  "" | *"no modified files to format"* | *"did not modify any files"*)
    echo "format check: the lines changed since $(git rev-parse --short "$base") are formatted"
    exit 0 ;;
esac
echo "$out"
echo "format check: lines changed since $(git rev-parse --short "$base") are not formatted as .clang-format says;"
echo "run: git clang-format $base"
exit 1
