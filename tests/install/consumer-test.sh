#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks it the way a user of the
# library meets it: exactly the commands, libraries, public headers, packages,
# manual pages and completions are there, and nothing else (no test hooks, no internal
# headers, no framework folders straight under include/); a program from
# outside the tree builds against it once through find_package(vavivaz) and
# once through pkg-config; both, and the installed probe, answer on a copy of
# the demo machine.
#
#   consumer-test.sh BUILD-DIR SOURCE-DIR SHARED CXX [FLAGS]
#
# SHARED is ON when the build made shared libraries; FLAGS are the compile and
# link flags a program linking the libraries must share with them (the
# sanitizers of a test build).
set -euo pipefail
build=$1 source=$2 shared=$3 cxx=$4 flags=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Runs a step quietly; its output only when it fails.
quietly() {
    local what=$1
    shift
    "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2; fail "$what"; }
}
# Compares the lines of two texts.
same() {
    [ "$2" = "$3" ] || fail "$1: expected
$3
got
$2"
}
sorted() { printf '%s\n' "$@" | sed '/^$/d' | LC_ALL=C sort; }

quietly "cmake --install" cmake --install "$build" --prefix "$prefix"

# --- What is installed -------------------------------------------------------
same "folders under the prefix" "$(sorted "$(ls "$prefix")")" "$(sorted bin include lib share)"
# The framework folders clash with other software's headers of those names:
# every header lives under include/vavivaz, which both packages put on the
# include path.
same "include/" "$(ls "$prefix/include")" vavivaz
same "share/" "$(sorted "$(ls "$prefix/share")")" "$(sorted bash-completion man)"
same "share/man/" "$(ls "$prefix/share/man")" man1
expected_headers=$(cd "$source" && for dir in */include; do (cd "$dir" && find . -name '*.h'); done)
installed_headers=$(cd "$prefix/include/vavivaz" && find . -type f)
same "headers (each library's include/ folder, nothing else)" \
    "$(sorted "$installed_headers")" "$(sorted "$expected_headers")"

commands=$(ls "$prefix/bin")
pages=$(ls "$prefix/share/man/man1")
same "manual pages (one per command)" "$(sorted "$pages")" "$(sorted "$(sed 's/$/.1/' <<<"$commands")")"
same "bash completions (one per command)" \
    "$(sorted "$(ls "$prefix/share/bash-completion/completions")")" "$(sorted "$commands")"
for command in zorvex-modem-status vz-plutil vz-scutil vz-ioreg vz-modem-scripts vz-netsetup; do
    [ -x "$prefix/bin/$command" ] || fail "$command is not installed"
done

libdir=$(dirname "$(find "$prefix" -name vavivaz.pc)")
libdir=${libdir%/pkgconfig}
[ -f "$libdir/cmake/vavivaz/vavivazConfig.cmake" ] || fail "no CMake package in $libdir/cmake"
libraries=$(cd "$libdir" && find . -maxdepth 1 ! -type d | sed 's|^\./||')
if [ "$shared" = ON ]; then
    # Each library as libvavivaz-NAME.so -> .so.ABI -> .so.VERSION, the SONAME
    # naming the ABI.
    for link in $(grep '\.so$' <<<"$libraries"); do
        soname=$(readelf -d "$libdir/$link" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
        [[ $soname =~ ^${link}\.[0-9]+$ ]] || fail "$link has the SONAME '$soname'"
        [ -L "$libdir/$soname" ] || fail "no $soname beside $link"
    done
    pattern='^libvavivaz-[a-z]+\.so(\.[0-9]+)*$'
else
    pattern='^libvavivaz-[a-z]+\.a$'
fi
for library in $libraries; do
    [[ $library =~ $pattern ]] || fail "unexpected $libdir/$library"
done
grep -qx 'libvavivaz-platform\.\(a\|so\)' <<<"$libraries" ||
    fail "no platform library in $libdir"
# What a machine that runs the commands needs besides them; the link in the
# machine's root is made only for the prefix the build was configured with,
# never for this one.
for file in lib/systemd/system/vavivaz-apply.service lib/tmpfiles.d/vavivaz.conf \
    lib/udev/vavivaz-port-name lib/udev/rules.d/70-vavivaz-ports.rules; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done

# --- Programs linking the installed libraries ----------------------------------
cp -r "$source/examples/root" "$work/root"
cp -r "$source/tests/install/consumer" "$work/consumer"
expected_output=$(printf '%s\n' \
    "Ethernet	en0	-1" \
    "AirPort	en1	-1" \
    "ZORVEX Mobile (diagnostics)	ZORVEXMobile-Diag	-1" \
    "ZORVEX Mobile (control)	ZORVEXMobile-Pcui	-1" \
    "ZORVEX Mobile	ZORVEXMobile-Modem	2" \
    "first modem port	modem" \
    "default script	Internal 56K Modem (v.90)")

quietly "configuring the find_package consumer" \
    cmake -S "$work/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags"
quietly "building the find_package consumer" cmake --build "$work/cmake-build"
same "the find_package consumer's output" \
    "$(VAVIVAZ_ROOT=$work/root "$work/cmake-build/consumer")" "$expected_output"

export PKG_CONFIG_PATH=$libdir/pkgconfig
cflags=$(pkg-config --cflags vavivaz) || fail "pkg-config --cflags vavivaz"
libs=$(pkg-config --libs vavivaz) || fail "pkg-config --libs vavivaz"
# Every command but the probe (which takes no arguments) reports the
# package's version.
version=$(pkg-config --modversion vavivaz)
for command in $commands; do
    [ "$command" = zorvex-modem-status ] && continue
    same "$command --version" "$("$prefix/bin/$command" --version)" "$command (vavivaz) $version"
done
# shellcheck disable=SC2086 # the flags are words
quietly "building the pkg-config consumer" \
    "$cxx" $flags $cflags -o "$work/pkg-config-consumer" "$work/consumer/Consumer.cpp" $libs \
    -Wl,-rpath,"$libdir"
same "the pkg-config consumer's output" \
    "$(VAVIVAZ_ROOT=$work/root "$work/pkg-config-consumer")" "$expected_output"

# The installed commands find their libraries wherever the prefix is.
status=0
VAVIVAZ_ROOT=$work/root "$prefix/bin/zorvex-modem-status" || status=$?
same "the installed probe's exit status" "$status" 0
quietly "the installed vz-ioreg" "$prefix/bin/vz-ioreg" --root "$work/root" --ports
echo "installed into $prefix and built two consumers against it"
