#!/bin/bash
# Boots, or shuts down, the Wine prefix that the Windows end-to-end runs
# share. Booting leaves a persistent Wine server running, so that no server
# started by a test inherits the test's pipes; shutting down ends it.
#   wine_prefix.sh boot|stop PREFIX
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
# Emulated 32-bit Wine needs the whole 32-bit address space kept for it.
export QEMU_RESERVED_VA=0xffff0000
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver)

case $action in
boot)
    mkdir -p "$WINEPREFIX"
    if [ -x /usr/lib/wine/wine ] && [ -f "$WINEPREFIX/system.reg" ] &&
        [ ! -e "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        # Booted before 32-bit Wine was installed: it cannot run 32-bit
        # programs. Start afresh.
        timeout 60 "$server" -k </dev/null >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        timeout 900 /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
    fi
    "$server" -p </dev/null >/dev/null 2>&1 &
    timeout 120 /usr/lib/wine/wine64 cmd /c exit 0 </dev/null >/dev/null 2>&1
    mkdir -p "$WINEPREFIX/drive_c/temp"
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
stop)
    timeout 60 "$server" -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 boot|stop PREFIX" >&2
    exit 2
    ;;
esac
