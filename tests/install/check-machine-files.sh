#!/usr/bin/env bash
# Checks what a machine that runs the commands needs besides them, as the
# build made them: the boot unit passes systemd-analyze's verification
# without a word (its copy whose command is the built vz-netsetup), and the
# tmpfiles.d entry, applied to an empty folder standing for the file system,
# makes the machine root's link to its dynamic store on /run; the udev rule
# runs the helper installed beside it.
#
#   check-machine-files.sh MACHINE-DIR MACHINE-ROOT RUN-DIR
set -euo pipefail
dir=$1 machine_root=$2 run_dir=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

verify=$(systemd-analyze verify --man=no "$dir/test/vavivaz-apply.service" 2>&1) ||
    fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"
grep -qx "ExecStart=.*/vz-netsetup apply" "$dir/vavivaz-apply.service" ||
    fail "the installed unit does not run vz-netsetup apply"

out=$(systemd-tmpfiles --create --root="$work" "$dir/vavivaz.conf" 2>&1) ||
    fail "systemd-tmpfiles: $out"
[ -d "$work$run_dir" ] || fail "no $run_dir"
link=$work$machine_root/var/run/SystemConfiguration
[ "$(readlink "$link")" = "$run_dir" ] || fail "$link does not lead to $run_dir"
grep -q 'PROGRAM="[^ ]*/lib/udev/vavivaz-port-name %S%p", SYMLINK+="%c"' \
    "$dir/70-vavivaz-ports.rules" || fail "the udev rule does not run the helper"
echo "the boot unit verifies; the tmpfiles.d entry links $machine_root to $run_dir"
