#!/usr/bin/env bash
# completion.sh COMPLETION PROGRAM STORE: the bash completion, driven as bash drives it (COMP_WORDS,
# COMP_CWORD), over a profile with the Maildir store STORE under the name "Mail Box".
set -u
completion=$1 program=$2 store=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/sub dir" "$scratch/broken.ini"
printf '[Stores]\nMail Box=%s\n' "$store" >"$scratch/profile.ini"
printf '\0\377[Stores\n=x\n\377=\0\n[Stores]\nGone=%s\nMail Box=%s\n' "$scratch/gone" "$store" >"$scratch/garbage.ini"
export QUILLBOX_PROFILE=$scratch/profile.ini
unset DISPLAY WAYLAND_DISPLAY

source "$completion"
failures=0
[[ $(complete -p quillbox) == "complete -F _quillbox quillbox" ]] || { echo "not registered for quillbox"; failures=1; }

# check WHY EXPECTED WORD...: completing the last WORD gives the candidates EXPECTED (one a line, sorted).
check()
{
    local why=$1 expected=$2
    shift 2
    COMP_WORDS=(quillbox "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    local err
    err=$(_quillbox "$program" 2>&1 >/dev/null)
    _quillbox "$program" 2>/dev/null
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
    expected=$(printf '%s' "$expected" | sort)
    if [[ $got != "$expected" || -n $err ]]; then
        printf 'FAIL %s\n  expected: %s\n  got:      %s\n  stderr:   %s\n' "$why" "$expected" "$got" "$err"
        failures=1
    fi
}

check "the stores as the first argument" '\\\\Mail\ Box' ''
check "a store's folders once its name is typed" '\\\\Mail\ Box\\Projects
\\\\Mail\ Box\\Projects\\Garden\ Club
\\\\Mail\ Box\\Projects\\Quillbox
\\\\Mail\ Box\\Projects\\Quillbox\\2019' '\\\\Mail\ Box\\P'
check "the store typed in quotes" '\\\\Mail\ Box' "'\\\\M"
check "options are skipped when counting arguments" '\\\\Mail\ Box' --debug 2 /AUTORUN ''
check "after -- the first argument is still the mail folder" '\\\\Mail\ Box' -- ''
check "GNU options" '--list-folders
--list-stores' --list-
check "slash options" '/ini' /i
check "a file after /ini" "$scratch/profile.ini" /ini "$scratch/pro"
check "a file after --ini=" "--ini=$scratch/profile.ini" "--ini=$scratch/pro"
check "the second argument is a directory" "$scratch/sub dir" x "$scratch/s"
check "after -- a slash word is a directory, not an option" "" -- x /autor
check "the store names after --list-folders" 'Mail\ Box' --list-folders M
check "nothing after /dbg" "" /dbg ''
QUILLBOX_PROFILE=$scratch/broken.ini check "a profile that cannot be read gives nothing, quietly" "" ''
QUILLBOX_PROFILE=$scratch/broken.ini check "the same after --list-folders" "" --list-folders ''
QUILLBOX_PROFILE=$scratch/garbage.ini check "a profile of garbage: what can be read, quietly" '\\\\Mail\ Box' ''
exit $failures
