#!/usr/bin/env bash
# Drives each command's bash completion as bash does (COMP_WORDS, COMP_CWORD,
# COMP_LINE) and compares the candidates: every level of vz-netsetup offers
# the commands and options its --help lists, the other commands the options
# theirs list, and vz-netsetup offers the names of the root in use.
#
#   completion-test.sh COMPLETIONS-DIR DEMO-ROOT COMMAND-PATH...
set -euo pipefail
completions=$(realpath "$1") demo=$2
shift 2
commands=()
for command in "$@"; do commands+=("$(realpath "$command")"); done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
cp -r "$demo" "$root"
# Completion never reads the machine's own root, or its system bus: every
# case names a root.
export VAVIVAZ_ROOT=$work/empty-root VAVIVAZ_LIVE=0 DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/no-bus
mkdir "$VAVIVAZ_ROOT"
cd "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# shellcheck disable=SC1091 # the system's bash-completion
source /usr/share/bash-completion/bash_completion
declare -A path
for command in "${commands[@]}"; do
    name=$(basename "$command")
    path[$name]=$command
    [ -f "$completions/$name" ] || fail "no completion for $name"
    # shellcheck disable=SC1090
    source "$completions/$name"
done

# candidates NAME WORD...: what the completion of NAME offers for the last
# WORD after the others, one per line, sorted. A word --opt=value is split at
# "=" as bash splits it.
candidates() {
    local name=$1 word line function
    shift
    COMP_WORDS=("${path[$name]}")
    line=${path[$name]}
    for word in "$@"; do
        if [[ $word == --*=* ]]; then
            COMP_WORDS+=("${word%%=*}" "=" "${word#*=}")
        else
            COMP_WORDS+=("$word")
        fi
        line+=" $word"
    done
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    COMPREPLY=()
    function=$(complete -p "$name" | sed -n 's/.* -F \([^ ]*\) .*/\1/p')
    "$function" "$name" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort
}
# offers EXPECTED NAME WORD...: the candidates are EXPECTED, separated by "|".
offers() {
    local expected=$1 got
    shift
    expected=$(tr '|' '\n' <<<"$expected" | sed '/^$/d' | LC_ALL=C sort)
    got=$(candidates "$@")
    [ "$got" = "$expected" ] || fail "completing '$*': expected
$expected
got
$got"
}
# The options a --help text lists, "|"-separated.
options_of() {
    grep -oE '(^|[[:space:][|(])--?[A-Za-z][A-Za-z0-9-]*' <<<"$1" | sed 's/^[^-]*//' |
        sort -u | paste -sd'|' || true
}

# --- Commands and options against --help ---------------------------------------
for name in "${!path[@]}"; do
    [ "$name" = vz-netsetup ] && continue
    offers "$(options_of "$("${path[$name]}" --help </dev/null 2>/dev/null || true)")" "$name" -
done
# Each level of vz-netsetup, from the top down through the commands its help
# lists.
levels=("")
for ((i = 0; i < ${#levels[@]}; i++)); do
    read -ra level <<<"${levels[i]}"
    help=$("${path[vz-netsetup]}" "${level[@]}" --help)
    offers "$(options_of "$help")" vz-netsetup "${level[@]}" -
    subcommands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | awk 'NR > 1 && NF { print $1 }')
    [ -n "$subcommands" ] || continue
    offers "$(paste -sd'|' <<<"$subcommands")" vz-netsetup "${level[@]}" ''
    for command in $subcommands; do
        levels+=("${levels[i]} $command")
    done
done

# --- Names of the root in use, and argument positions ------------------------------
services='Ethernet|AirPort|ZORVEX Mobile (diagnostics)|ZORVEX Mobile (control)|ZORVEX Mobile'
offers "$services" vz-netsetup --root "$root" service show ''
offers "$services" vz-netsetup --json --root="$root" status ''
offers "$services" vz-netsetup service order --root "$root" Ethernet ''
VAVIVAZ_ROOT=$root offers "$services" vz-netsetup service dns ''
offers 'ZORVEX Mobile (diagnostics)|ZORVEX Mobile (control)|ZORVEX Mobile' \
    vz-netsetup --root "$root" service show "'ZORVEX M"
offers 'Ethernet' vz-netsetup --root "$root" --location Office service enable ''
offers 'Ethernet|AirPort' vz-netsetup --root "$root" dhcp release ''
offers 'Automatic|Office' vz-netsetup --root "$root" location switch ''
offers 'Office' vz-netsetup --root "$root" --location=Of
offers 'modem|Internal Modem|ZORVEXMobile-Modem|ZORVEXMobile-Diag|ZORVEXMobile-Pcui|en0|Built-in Ethernet|en1|AirPort|en2|Ethernet Adaptor (en2)' \
    vz-netsetup --root "$root" dialup ''
offers 'Serial Modem 9|Serial Modem 10' vz-netsetup --root "$root" dialup modem --script=Ser
offers 'dhcp|ppp|manual|off' vz-netsetup --root "$root" service ipv4 Ethernet ''
offers 'connected|connecting|disconnecting|disconnected|invalid' vz-netsetup status --wait=''
# After "--" every word is an argument, "-x" too.
offers '' vz-netsetup --root "$root" service show -- -
offers '' vz-netsetup --root "$root" service rename Ethernet ''
# A name two services share is refused by the command: those two are offered
# by their IDs. A name JSON escapes is offered as it is.
sed -i 's|<string>ZORVEX Mobile (control)</string>|<string>ZORVEX Mobile</string>|' \
    "$root/Library/Preferences/SystemConfiguration/preferences.plist"
"${path[vz-netsetup]}" --root "$root" service rename AirPort 'Air "Port" \ 2/é' >/dev/null
offers 'Ethernet|Air "Port" \ 2/é|ZORVEX Mobile (diagnostics)|4B7F0E93-A2D1-4C86-95B3-E0C64A1F8D27|E5A03C19-7B64-4E2F-A8D0-93F1B6C2574E' \
    vz-netsetup --root "$root" service show ''

offers 'connected|connecting|disconnecting|disconnected' vz-scutil --nc set E5A03C19 ''
# vz-scutil's commands, and those after --nc, as its --help lists them.
help=$("${path[vz-scutil]}" --help)
offers "$(sed -nE 's/^  ([a-z]+) .*/\1/p' <<<"$help" | paste -sd'|')" vz-scutil ''
offers "$(sed -nE 's/^  --nc ([a-z]+).*/\1/p' <<<"$help" | paste -sd'|')" vz-scutil --nc ''
echo "completion: $# commands, $((${#levels[@]})) levels of vz-netsetup"
