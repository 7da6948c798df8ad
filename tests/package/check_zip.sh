#!/usr/bin/env bash
# Checks the Windows zip of the operator tools as an operator would meet it:
# unzipped alone, away from the build, every DLL a program imports is in its
# folder or one of Windows' own; quillmoor-config.exe writes and checks a
# configuration under Wine, and the dev server starts far enough to print
# its help (its DLLs load).
# Usage: check_zip.sh PACKAGE.zip WINEPREFIX
set -euo pipefail

ZIP=$(realpath "$1")
# Wine takes an absolute prefix only.
export WINEPREFIX=$(realpath -m "$2")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY WINEPATH
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmoor-zip-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

mkdir -p "$WINEPREFIX"
wine cmd /c exit >/dev/null 2>&1 || fail "Wine does not start in $WINEPREFIX"
SYSTEM32="$WINEPREFIX/drive_c/windows/system32"
[ -d "$SYSTEM32" ] || fail "no Wine prefix at $WINEPREFIX"

echo "== contents"
unzip -q "$ZIP" -d "$WORK"
TOP="$WORK/$(basename "$ZIP" .zip)"
for f in quillmoor-config.exe README.txt dev-server/README.txt dev-server/quillmoor-devserver.exe \
  dev-server/quillmoor-devhost.dll dev-server/Quillmoor.dll; do
  [ -f "$TOP/$f" ] || fail "the zip lacks $f"
done
grep -q "not a game server" "$TOP/dev-server/README.txt" ||
  fail "the dev server is not marked as the development stand-in"
extra=$(cd "$TOP" && find . -type f ! -name '*.exe' ! -name '*.dll' ! -name '*.txt')
[ -z "$extra" ] || fail "files an operator has no use for: $extra"

echo "== DLLs"
while IFS= read -r -d '' module; do
  folder=$(dirname "$module")
  for dll in $(x86_64-w64-mingw32-objdump -p "$module" | sed -n 's/^\tDLL Name: //p'); do
    if [ -n "$(find "$folder" -maxdepth 1 -iname "$dll")" ]; then
      echo "$(basename "$module"): $dll (in the zip)"
    elif [ -n "$(find "$SYSTEM32" -maxdepth 1 -iname "$dll")" ]; then
      :
    else
      fail "$(basename "$module") needs $dll, which is neither in the zip nor a Windows DLL"
    fi
  done
done < <(find "$TOP" \( -iname '*.exe' -o -iname '*.dll' \) -print0)

echo "== quillmoor-config.exe under Wine"
cd "$TOP"
version=$(wine ./quillmoor-config.exe --version | tr -d '\r')
[[ "$version" == "quillmoor-config "* ]] || fail "--version says [$version]"
echo "$version"
mkdir -p "$WORK/plugin"
wine ./quillmoor-config.exe init "$(winepath -w "$WORK/plugin")" >"$WORK/init.out" 2>&1 ||
  { cat "$WORK/init.out"; fail "init failed"; }
config=$(find "$WORK/plugin" -name PluginConfig.json | head -n 1)
[ -n "$config" ] || fail "init wrote no PluginConfig.json"
status=0
wine ./quillmoor-config.exe check "$(winepath -w "$config")" >"$WORK/check.out" 2>&1 || status=$?
cat "$WORK/check.out"
[ "$status" -eq 0 ] || fail "check of the defaults exited $status"

echo "== the dev server's DLLs load"
wine ./dev-server/quillmoor-devserver.exe --help >"$WORK/devserver.out" 2>&1 ||
  { cat "$WORK/devserver.out"; fail "the dev server does not start"; }
grep -q "stand-in" "$WORK/devserver.out" || fail "the dev server printed no help"
wineserver -w
echo "zip checked: $ZIP"
