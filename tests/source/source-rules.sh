#!/usr/bin/env bash
# Rules the compiler does not check, over the product's sources (tests and tools excluded).
# Usage: source-rules.sh <source root>. Prints each breach; exits 1 when there is one.
set -uo pipefail
root=$1
cd "$root" || exit 2
breaches=0
breach() { echo "$1"; breaches=$((breaches + 1)); }

# Per-thread state belongs to the object that runs the thread: with mingw-w64 the destructors of
# thread_local objects run after the thread's storage was freed.
while IFS= read -r line; do
  breach "thread_local storage (keep per-thread state in the worker): $line"
done < <(grep -rnE '^\s*(static\s+)?thread_local\s' app jobs platform ui zip --include='*.cpp' --include='*.h')

# Layers from the bottom up; a layer includes its own headers and those of the layers below,
# never one above (tests/, fuzz/ and bench/ may include any).
layers=(platform zip jobs ui app)
for ((i = 0; i < ${#layers[@]}; i++)); do
  above=("${layers[@]:i+1}")
  [[ ${#above[@]} -eq 0 ]] && break
  pattern="^\s*#\s*include\s*[\"<]($(IFS='|'; echo "${above[*]}"))/"
  while IFS= read -r line; do
    breach "${layers[i]} includes a layer above it: $line"
  done < <(grep -rnE "$pattern" "${layers[i]}" --include='*.cpp' --include='*.h')
done

[[ $breaches -eq 0 ]] && echo "source rules: all kept"
[[ $breaches -eq 0 ]]
