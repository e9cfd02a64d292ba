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

# Inside zip/ (docs/ARCHITECTURE.md): the face at the top is all the layers above include; below
# it, common/ includes no other folder, codec/ and records/ include only common/, pack/ and
# extract/ include those three but never each other. A folder includes from the face only the
# headers that stand below every folder, and extract/ also the staged result it fills.
while IFS= read -r line; do
  breach "a layer above zip includes below zip's face: $line"
done < <(grep -rnE '^\s*#\s*include\s*["<]zip/[^"/>]+/' jobs ui app --include='*.cpp' --include='*.h')
zip_face_base='ZipExceptions|ArchiveSource|ArchiveTransform|ArchiveFollower|Concurrency|TargetNames'
declare -A zip_allowed=(
  [common]='common'
  [records]='common|records'
  [codec]='common|codec'
  [pack]='common|records|codec|pack'
  [extract]='common|records|codec|extract'
)
declare -A zip_face=([extract]="$zip_face_base|StagedExtraction")
for folder in "${!zip_allowed[@]}"; do
  [[ -d zip/$folder ]] || continue
  while IFS= read -r line; do
    breach "zip/$folder includes zip/ beyond ${zip_allowed[$folder]//|/, } and the face's base: $line"
  done < <(grep -rnE '^\s*#\s*include\s*["<]zip/' "zip/$folder" --include='*.cpp' --include='*.h' |
    grep -vE "#\s*include\s*[\"<]zip/(${zip_allowed[$folder]})/" |
    grep -vE "#\s*include\s*[\"<]zip/(${zip_face[$folder]:-$zip_face_base})\.h")
done
# The face's base headers include only common/ and each other, so no folder reaches the front.
while IFS= read -r line; do
  breach "a base header of zip's face includes more than common/: $line"
done < <(grep -nE '^\s*#\s*include\s*["<]zip/' $(eval echo "zip/{${zip_face_base//|/,},StagedExtraction}.h") |
  grep -vE "#\s*include\s*[\"<]zip/(common/|($zip_face_base)\.h)")

[[ $breaches -eq 0 ]] && echo "source rules: all kept"
[[ $breaches -eq 0 ]]
