#!/usr/bin/env bash
# tonecore.so must export the engine interface by name and nothing else.
set -euo pipefail
lib=$1 map=$2
expected=$(grep -o '\b[A-Z][A-Za-z]*;' "$map" | tr -d ';' | sort)
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbVvRr]$/ {print $3}' | grep -v '^_' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exports differ from the interface (< interface, > library):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
count=$(echo "$actual" | wc -l)
[ "$count" -eq 34 ] || { echo "expected 34 exports, found $count"; exit 1; }
echo "34 exports, as the interface declares"
