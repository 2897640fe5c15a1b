#!/usr/bin/env bash
# Builds the Debian packages with scripts/package and checks them as a user
# meets them: lintian finds no error or warning; each package holds exactly
# what the README's table says it puts where, and nothing outside the usual
# folders; the versions and dependencies are the project's and the binaries';
# extracted with dpkg-deb -x into a temporary folder, the commands load the
# extracted libraries, work on a copy of the demo machine, and complete in
# bash.
#
#   package-test.sh SOURCE-DIR OUT-DIR
#
# The packages are built without debug symbols (-g, -dbgsym packages), which
# change nothing in the three packages but take a quarter of the build's time.
set -euo pipefail
source=$1 out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Nothing here reaches the machine's own root or its system bus.
export VAVIVAZ_LIVE=0 DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-bus

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DEB_BUILD_OPTIONS=noddebs DEB_CFLAGS_STRIP=-g DEB_CXXFLAGS_STRIP=-g \
    "$source/scripts/package" "$out" >/dev/null
version=$(sed -n 's/^project(vavivaz VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
packages=(vavivaz libvavivaz0 libvavivaz-dev)
declare -A deb
for package in "${packages[@]}"; do
    deb[$package]=$(echo "$out/${package}_${version}_"*.deb)
    [ -f "${deb[$package]}" ] || fail "no package $package $version in $out"
done

lintian=$(lintian --fail-on error,warning "$out"/vavivaz_"$version"_*.changes 2>/dev/null) ||
    fail "lintian:
$lintian"

# --- Contents against the README -------------------------------------------------
# Each row of the table "| `package` | `where` | what |": a folder (ending in
# /) holds files of the package, any other path is a glob, <triplet> any
# folder name; "each" rows hold files of every package.
rows=$(sed -n 's/^| \(`[a-z0-9-]*`\|each\) | `\([^`]*\)` |.*/\1 \2/p' "$source/README.md" | tr -d '`')
[ -n "$rows" ] || fail "no table of package contents in README.md"
for package in "${packages[@]}"; do
    mapfile -t files < <(dpkg-deb -c "${deb[$package]}" | grep -v '^d' | awk '{ print $6 }' | sed 's|^\.||')
    mapfile -t patterns < <(awk -v p="$package" '$1 == p || $1 == "each" { print $2 }' <<<"$rows" |
        sed -e "s|PACKAGE|$package|" -e 's|<triplet>|*|' -e 's|/$|/*|')
    declare -A used=()
    for file in "${files[@]}"; do
        matched=
        for pattern in "${patterns[@]}"; do
            # shellcheck disable=SC2053 # the pattern is a glob
            [[ $file == $pattern ]] && matched=1 && used[$pattern]=1 && break
        done
        [ -n "$matched" ] || fail "$package has $file, which the README does not list for it"
        # Debian's places: nothing in /usr/local, at the top of the file
        # system, or in the folders a machine root lays out (Library/...).
        [[ $file =~ ^/(usr/(bin|lib|libexec|include|share|sbin)|etc|lib|var/lib)/ ]] ||
            fail "$package installs $file outside the usual Debian folders"
    done
    for pattern in "${patterns[@]}"; do
        [ -n "${used[$pattern]-}" ] || fail "the README says $package puts $pattern, it does not"
    done
    unset used
    [ "$(dpkg-deb -f "${deb[$package]}" Version)" = "$version" ] || fail "$package is not version $version"
done
# The dependencies come from the binaries (the commands' on the libraries
# through the libraries' shlibs), and from what vavivaz.pc requires.
depends=$(dpkg-deb -f "${deb[vavivaz]}" Depends)
[[ $depends == *"libvavivaz0 (>= $version)"* ]] || fail "vavivaz depends on: $depends"
depends=$(dpkg-deb -f "${deb[libvavivaz-dev]}" Depends)
[[ $depends == *libexpat1-dev* ]] || fail "libvavivaz-dev depends on: $depends"
# The libraries open ICU and libsystemd when they need them: by name.
depends=$(dpkg-deb -f "${deb[libvavivaz0]}" Depends)
[[ $depends == *"libicu$(pkg-config --modversion icu-uc | cut -d. -f1)"* && $depends == *libsystemd0* ]] ||
    fail "libvavivaz0 depends on: $depends"

# debhelper enables the boot unit only where this release's systemd keeps its
# units.
dpkg-deb -e "${deb[vavivaz]}" "$work/control"
grep -q "deb-systemd-helper enable 'vavivaz-apply.service'" "$work/control/postinst" ||
    fail "installing vavivaz does not enable vavivaz-apply.service"

# --- The extracted packages at work ------------------------------------------------
fs=$work/fs
for package in "${packages[@]}"; do
    dpkg-deb -x "${deb[$package]}" "$fs"
done
# The package is named for the libraries' ABI version.
for library in "$fs"/usr/lib/*/libvavivaz-*.so.*.*; do
    soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [[ $soname == *.so.0 ]] || fail "$(basename "$library") has the SONAME $soname, not that of libvavivaz0"
done
commands=("$fs"/usr/bin/*)
for command in "${commands[@]}"; do
    name=$(basename "$command")
    libraries=$(ldd "$command" | grep libvavivaz || true)
    [ -n "$libraries" ] || fail "$name links no vavivaz library"
    ! grep -v "=> $fs/" <<<"$libraries" || fail "$name loads vavivaz libraries from outside the package"
done
cp -r "$source/examples/root" "$work/root"
status=0
VAVIVAZ_ROOT=$work/root "$fs/usr/bin/zorvex-modem-status" || status=$?
[ "$status" = 0 ] || fail "the extracted probe exited with $status on the demo machine"

bash "$source/tests/package/completion-test.sh" "$fs/usr/share/bash-completion/completions" \
    "$source/examples/root" "${commands[@]}" >/dev/null
echo "packages of vavivaz $version: lintian clean, contents as the README says, commands and completion work"
