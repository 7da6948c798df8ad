#!/usr/bin/env bash
# Checks the Debian package of the operator tools: lintian finds no error,
# apt can resolve what it depends on, it holds the files an operator is told
# about, its programs run from the unpacked tree, it starts nothing on
# install, and its service unit passes systemd's checks with an exposure of
# 2.0 or lower.
# Usage: check_deb.sh PACKAGE.deb SOURCE_UNIT
set -euo pipefail

DEB=$(realpath "$1")
SOURCE_UNIT=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmoor-deb-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "== lintian"
# lintian warns on stderr that it runs as root; its findings go to stdout.
lintian "$DEB" >"$WORK/lintian.out" 2>/dev/null || true
cat "$WORK/lintian.out"
! grep -q '^E:' "$WORK/lintian.out" || fail "lintian reports errors"

echo "== dependencies"
dpkg-deb -f "$DEB" Depends
apt-get install --simulate "$DEB" >"$WORK/apt.out" 2>&1 || {
  cat "$WORK/apt.out"
  fail "apt cannot resolve the package's dependencies"
}
for library in libplplot libprometheus-cpp-pull libstdc++6; do
  dpkg-deb -f "$DEB" Depends | grep -q "$library" || fail "Depends does not name $library"
done

echo "== contents"
dpkg-deb -x "$DEB" "$WORK/root"
for f in usr/bin/quillmoor-watch usr/bin/quillmoor-config \
  usr/share/man/man1/quillmoor-watch.1.gz usr/share/man/man1/quillmoor-config.1.gz \
  lib/systemd/system/quillmoor-watch.service \
  usr/share/quillmoor/prometheus/quillmoor-alerts.yml usr/share/quillmoor/grafana/quillmoor.json \
  usr/share/doc/quillmoor-tools/copyright usr/share/doc/quillmoor-tools/tools.md; do
  [ -f "$WORK/root/$f" ] || fail "the package lacks /$f"
done
cmp "$WORK/root/lib/systemd/system/quillmoor-watch.service" "$SOURCE_UNIT" ||
  fail "the packaged unit is not deploy/systemd's"
dpkg-deb --ctrl-tarfile "$DEB" | tar -t >"$WORK/control.list"
! grep -Eq 'postinst|preinst|prerm|postrm' "$WORK/control.list" ||
  fail "the package has maintainer scripts: it must start nothing on install"

echo "== programs from the unpacked tree"
for tool in quillmoor-watch quillmoor-config; do
  version=$("$WORK/root/usr/bin/$tool" --version)
  expect="$tool $(dpkg-deb -f "$DEB" Version)"
  [ "$version" = "$expect" ] || fail "$tool --version says [$version], expected [$expect]"
  echo "$version"
  man -l "$WORK/root/usr/share/man/man1/$tool.1.gz" 2>&1 >/dev/null | grep . &&
    fail "the man page of $tool has roff errors"
  zcat "$WORK/root/usr/share/man/man1/$tool.1.gz" | grep -q -- '\\-\\-help' ||
    fail "the man page of $tool does not carry its --help"
done

echo "== service unit"
unit="$WORK/quillmoor-watch.service"
sed "s|/usr/bin/quillmoor-watch|$WORK/root/usr/bin/quillmoor-watch|" \
  "$WORK/root/lib/systemd/system/quillmoor-watch.service" >"$unit"
out=$(MANPATH="$WORK/root/usr/share/man" systemd-analyze verify "$unit" 2>&1) || {
  echo "$out"
  fail "systemd-analyze verify"
}
[ -z "$out" ] || {
  echo "$out"
  fail "systemd-analyze verify has findings"
}
rating=$(systemd-analyze security --offline=true "$unit" | tail -n 1)
echo "$rating"
level=$(echo "$rating" | sed -n 's/.*: \([0-9.]*\) .*/\1/p')
awk -v l="$level" 'BEGIN { exit !(l != "" && l <= 2.0) }' || fail "exposure above 2.0"

echo "package checked: $DEB"
