#!/usr/bin/env bash
# The plugin library must export its two entry points and nothing else: any
# other export lets the loader bind to the plugin's copies of library code,
# and then unloading no longer unmaps it.
set -euo pipefail
lib="$1"
exports=$(nm -D --defined-only "$lib" | awk '$2 != "A" { print $3 }' | sort)
expected=$(printf 'Plugin_Init\nPlugin_Unload')
if [ "$exports" != "$expected" ]; then
  echo "unexpected export set of $lib:"
  echo "$exports"
  exit 1
fi
echo "exports: $(echo $exports)"
