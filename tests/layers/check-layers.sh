#!/bin/sh
# Checks that the tool's includes point one way: a folder's files include
# headers of their own folder and of folders listed below it in layers.txt,
# never one above it or beside it. Prints every include that breaks the rule.
# usage: check-layers.sh TOOL_FOLDER (the folder holding layers.txt)
set -u
tool="$1"
layers="$tool/layers.txt"
[ -f "$layers" ] || { echo "check-layers: no $layers"; exit 2; }

# level FOLDER: its line among the layers, counted from the bottom (0: unknown).
levels=$(grep -v '^#' "$layers" | grep -v '^ *$')
total=$(printf '%s\n' "$levels" | wc -l)
level() {
  printf '%s\n' "$levels" | awk -v name="$1" -v total="$total" \
    '{ for (i = 1; i <= NF; i++) if ($i == name) print total - NR + 1 }'
}

status=0
for folder in "$tool"/*/; do
  name=$(basename "$folder")
  own=$(level "$name")
  if [ -z "$own" ]; then
    echo "$name/: not in layers.txt"
    status=1
    continue
  fi
  for file in "$folder"*.h "$folder"*.cpp; do
    [ -f "$file" ] || continue
    grep -n '^#include "[a-z]*/' "$file" | while IFS= read -r line; do
      target=$(printf '%s' "$line" | sed 's/^[0-9]*:#include "\([a-z]*\)\/.*/\1/')
      [ "$target" = "$name" ] && continue
      theirs=$(level "$target")
      if [ -z "$theirs" ] || [ "$theirs" -ge "$own" ]; then
        echo "${file#"$tool"/}:${line%%:*}: $name includes $target/, which is not below it in layers.txt"
      fi
    done
  done
done | { if grep .; then exit 1; fi; }
[ $? -ne 0 ] && status=1
exit "$status"
