#!/bin/sh
# Runs a Windows program under Wine for CTest and gtest_discover_tests.
# Usage: wine-emulator.sh PREFIX PROGRAM [ARGS...]
# Headless: no debug chatter, no display, and no offer to install Mono or
# Gecko when the prefix is created on the first run (that takes a few seconds).
prefix=$1
shift
mkdir -p "$prefix"
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The ANSI code page follows the locale: UTF-8 gives 1252, in which the
# non-ASCII folder names of the tests can be written.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
