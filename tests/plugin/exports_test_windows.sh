#!/usr/bin/env bash
# The Windows build of the plugin: exactly its two entry points exported,
# under their plain names, and nothing imported but system DLLs and the
# framework's (here the devhost's) DLL, so that the plugin folder needs no
# MinGW runtime beside it.
# Usage: exports_test_windows.sh Quillmoor.dll OBJDUMP
set -euo pipefail
lib=$1
objdump=$2
dump=$("$objdump" -p "$lib")

# The export table: "[Ordinal/Name Pointer] Table" rows "[   0] Name".
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  sed -n 's/^\s*\[\s*[0-9]*\] \(.*\)$/\1/p' | sort)
expected=$(printf 'Plugin_Init\nPlugin_Unload')
if [ "$exports" != "$expected" ]; then
  echo "unexpected export set of $lib:"
  echo "$exports"
  exit 1
fi

imports=$(sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' <<<"$dump" | tr '[:upper:]' '[:lower:]' | sort -u)
status=0
while read -r dll; do
  case "$dll" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ws2_32.dll | api-ms-win-*.dll) ;;
    quillmoor-devhost.dll) ;;
    *)
      echo "unexpected import of $lib: $dll"
      status=1
      ;;
  esac
done <<<"$imports"
[ "$status" -eq 0 ] || exit 1
echo "exports: $(echo $exports); imports: $(echo $imports)"
