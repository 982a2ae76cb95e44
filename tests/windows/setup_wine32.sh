#!/usr/bin/env bash
# Makes 32-bit Wine usable on an amd64 Debian 12 machine whose kernel does not
# run 32-bit x86 programs natively: i386 programs are handed to qemu-i386
# (user-mode emulation) through binfmt_misc.
#
# Run as root. Safe to run again: every step is skipped when already done.
#
# Exit status:
#   0  everything is in place (32-bit Wine starts, wine64 still starts)
#   2  something could not be done; one line on stderr says what, so tests
#      can skip with that reason
#
# Afterwards:
#   /usr/lib/wine/wine    32-bit loader (runs under qemu-i386, slow start)
#   /usr/lib/wine/wine64  64-bit loader; also runs 32-bit .exe files from a
#                         prefix that was booted after wine32 was installed
# A prefix created before wine32 was present has no syswow64 and cannot run
# 32-bit programs ("could not load kernel32.dll"); create it afresh.
set -euo pipefail

readonly BINFMT_DIR=/proc/sys/fs/binfmt_misc
readonly ENTRY_NAME=qemu-i386
readonly QEMU_PKG=qemu-user-static
readonly QEMU_BIN=/usr/bin/qemu-i386-static
readonly WINE32_PKG=wine32:i386
# ELF32, little endian, ET_EXEC/ET_DYN, EM_386. The kernel decodes the \x
# escapes itself, so this must be written verbatim (printf '%s').
readonly I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
readonly I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# How the magic reads back from /proc once registered.
readonly I386_MAGIC_HEX=7f454c4601010100000000000000000002000300

APT_LOG=""

say() { echo "setup_wine32: $*"; }
fail() {
    echo "setup_wine32: $*" >&2
    exit 2
}
trap 'fail "unexpected failure (line $LINENO: $BASH_COMMAND)"' ERR

pkg_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

have_i386_arch() {
    dpkg --print-foreign-architectures | grep -qx i386
}

binfmt_mounted() {
    [[ -e $BINFMT_DIR/register ]]
}

# True when some enabled binfmt_misc entry sends i386 ELF files to a qemu-i386
# interpreter with the fix-binary flag (interpreter opened at registration).
i386_registered() {
    local entry
    binfmt_mounted || return 1
    [[ $(cat "$BINFMT_DIR/status") == enabled ]] || return 1
    for entry in "$BINFMT_DIR"/*; do
        case ${entry##*/} in register | status) continue ;; esac
        [[ -r $entry ]] || continue
        grep -qx enabled "$entry" || continue
        grep -qx "magic $I386_MAGIC_HEX" "$entry" || continue
        grep -q '^interpreter .*qemu-i386' "$entry" || continue
        grep -q '^flags: .*F' "$entry" || continue
        return 0
    done
    return 1
}

apt_run() {
    [[ -n $APT_LOG ]] || APT_LOG=$(mktemp /tmp/setup_wine32.apt.XXXXXX)
    DEBIAN_FRONTEND=noninteractive timeout 1200 apt-get \
        -o DPkg::Lock::Timeout=300 \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold \
        "$@" >>"$APT_LOG" 2>&1
}

apt_error() {
    local last
    last=$(grep -E '^(E|W): ' "$APT_LOG" | tail -n 1 || true)
    echo "${last:-see $APT_LOG} (log: $APT_LOG)"
}

updated=no
apt_update_once() {
    [[ $updated == yes ]] && return 0
    say "apt-get update"
    apt_run update || fail "apt-get update failed: $(apt_error)"
    updated=yes
}

missing_list() {
    local missing=()
    have_i386_arch || missing+=("i386 dpkg architecture")
    pkg_installed "$QEMU_PKG" || missing+=("$QEMU_PKG")
    pkg_installed "$WINE32_PKG" || missing+=("$WINE32_PKG")
    binfmt_mounted || missing+=("binfmt_misc mount at $BINFMT_DIR")
    i386_registered || missing+=("qemu-i386 binfmt_misc registration")
    local joined
    joined=$(printf '%s, ' "${missing[@]}")
    [[ ${#missing[@]} -eq 0 ]] || echo "${joined%, }"
}

# Final check: a 32-bit ELF runs through qemu, and wine64 still starts.
verify() {
    local out
    out=$(timeout 300 /usr/lib/wine/wine --version 2>&1) ||
        fail "32-bit wine loader does not start under qemu-i386: ${out//$'\n'/ }"
    if [[ -x /usr/lib/wine/wine64 ]]; then
        out=$(timeout 120 /usr/lib/wine/wine64 --version 2>&1) ||
            fail "wine64 no longer starts: ${out//$'\n'/ }"
    fi
}

if [[ $(dpkg --print-architecture 2>/dev/null) != amd64 ]]; then
    fail "expects an amd64 Debian host (dpkg architecture: $(dpkg --print-architecture 2>/dev/null || echo unknown))"
fi

if [[ $EUID -ne 0 ]]; then
    still_missing=$(missing_list)
    [[ -z $still_missing ]] || fail "not root; missing: $still_missing"
    verify
    say "all in place"
    exit 0
fi

# 1. i386 packages can be installed.
if ! have_i386_arch; then
    say "adding the i386 architecture"
    dpkg --add-architecture i386
fi

# 2. The emulator. The static build has no library dependencies (one small
#    package) and, opened at registration because of the F flag, keeps working
#    whatever happens to the host's libraries later.
if ! pkg_installed "$QEMU_PKG"; then
    apt_update_once
    say "installing $QEMU_PKG"
    apt_run install -y --no-install-recommends "$QEMU_PKG" ||
        fail "cannot install $QEMU_PKG: $(apt_error)"
fi
[[ -x $QEMU_BIN ]] || fail "$QEMU_BIN missing although $QEMU_PKG is installed"

# 3. binfmt_misc, before wine32 is installed: the i386 packages' maintainer
#    scripts run i386 helpers and fail with "Exec format error" without it.
if ! binfmt_mounted; then
    say "mounting binfmt_misc"
    err=$(mount -t binfmt_misc binfmt_misc "$BINFMT_DIR" 2>&1) ||
        fail "cannot mount binfmt_misc at $BINFMT_DIR: ${err//$'\n'/ }"
fi
if [[ $(cat "$BINFMT_DIR/status") != enabled ]]; then
    echo 1 >"$BINFMT_DIR/status" 2>/dev/null ||
        fail "binfmt_misc is disabled and cannot be enabled"
fi

# 4. Hand 32-bit x86 ELF files to qemu-i386. Debian's qemu packages register
#    every foreign architecture but this one on amd64 hosts, so do it here.
if ! i386_registered; then
    if [[ -e $BINFMT_DIR/$ENTRY_NAME ]]; then
        say "replacing the existing $ENTRY_NAME entry"
        echo -1 >"$BINFMT_DIR/$ENTRY_NAME" ||
            fail "cannot remove the stale binfmt_misc entry $ENTRY_NAME"
    fi
    say "registering $QEMU_BIN for i386 ELF"
    line=":$ENTRY_NAME:M::$I386_MAGIC:$I386_MASK:$QEMU_BIN:F"
    err=$( { printf '%s' "$line" >"$BINFMT_DIR/register"; } 2>&1) ||
        fail "cannot register qemu-i386 with binfmt_misc: ${err//$'\n'/ }"
    i386_registered || fail "qemu-i386 binfmt_misc entry did not take effect"
fi

# 5. 32-bit Wine. i386 libraries are Multi-Arch: same, so apt moves the amd64
#    copies that are installed to the archive's current version as well (point
#    release updates). Take the wine32 that matches the installed wine64 so
#    the 64-bit side stays as it is, and refuse any plan that removes packages.
if ! pkg_installed "$WINE32_PKG"; then
    apt_update_once
    target=$WINE32_PKG
    if pkg_installed wine64; then
        wine64_version=$(dpkg-query -W -f='${Version}' wine64)
        if apt-cache madison "$WINE32_PKG" | awk -F'|' '{gsub(/ /,"",$2); print $2}' |
            grep -qxF "$wine64_version"; then
            target="$WINE32_PKG=$wine64_version"
        fi
    fi
    plan=$(timeout 300 apt-get -s install --no-install-recommends "$target" 2>&1) ||
        fail "apt cannot plan installing $target: $(grep -E '^E: ' <<<"$plan" | tail -n 1)"
    removals=$(awk '/^Remv /{print $2}' <<<"$plan" | tr '\n' ' ')
    [[ -z $removals ]] ||
        fail "installing $target would remove packages (${removals% }); not doing it"
    say "installing $target"
    apt_run install -y --no-install-recommends "$target" ||
        fail "cannot install $target: $(apt_error)"
fi

verify
say "all in place (32-bit loader: /usr/lib/wine/wine, via $QEMU_BIN)"
[[ -z $APT_LOG ]] || rm -f "$APT_LOG"
