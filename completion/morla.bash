# bash completion for morla: drive letters after the pattern, and file names
# for a path ('/', './' or '../' begun: a device, an image or a container).
#
# The letters are those of the current drive map, the entries 'x::' of the
# prefix folder's dosdevices, found by morla's own rule: $WINEPREFIX; else, in
# a root shell reached through sudo, the invoking user's ~/.wine when it
# exists; else $HOME/.wine. The pattern is the user's to type: nothing is
# offered for it, not even file names.

_morla_prefix_folder()
{
    if [[ -n ${WINEPREFIX-} ]]; then
        printf '%s\n' "$WINEPREFIX"
        return
    fi
    if [[ $EUID -eq 0 && -n ${SUDO_USER-} ]]; then
        local home
        home=$(getent passwd -- "$SUDO_USER" 2>/dev/null | cut -d: -f6)
        if [[ -n $home && -d $home/.wine ]]; then
            printf '%s\n' "$home/.wine"
            return
        fi
    fi
    [[ -n ${HOME-} ]] && printf '%s\n' "$HOME/.wine"
}

_morla()
{
    COMPREPLY=()
    # The first argument is the pattern.
    ((COMP_CWORD >= 2)) || return 0

    local current=${COMP_WORDS[COMP_CWORD]}
    # A path: file names, folders ending in '/' so that the path goes on.
    if [[ $current == /* || $current == ./* || $current == ../* ]]; then
        local name
        while IFS= read -r name; do
            [[ -d $name ]] && name+=/
            COMPREPLY+=("$name")
        done < <(compgen -f -- "$current")
        compopt -o nospace 2>/dev/null
        return 0
    fi
    # Only a lone letter, or nothing yet, is completed.
    [[ $current =~ ^[A-Za-z]?$ ]] || return 0

    local prefix
    prefix=$(_morla_prefix_folder)
    [[ -n $prefix && -d $prefix/dosdevices ]] || return 0

    # Letters already on the line are not offered again.
    local given=" " i
    for ((i = 2; i < COMP_CWORD; i++)); do
        given+="${COMP_WORDS[i]:0:1} "
    done
    given=${given,,}

    # Each letter is looked up by name, so no glob option of the user's
    # shell can change the answer. A link whose target is gone offers
    # nothing a search could open.
    local entry letter
    for letter in {a..z}; do
        entry=$prefix/dosdevices/$letter::
        [[ -e $entry ]] || continue
        [[ $given == *" $letter "* ]] && continue
        # The case the user started typing is kept; upper case, as drives
        # are written, when nothing is typed yet.
        if [[ $current != [a-z] ]]; then
            letter=${letter^^}
        fi
        [[ -z $current || ${letter,,} == "${current,,}" ]] || continue
        COMPREPLY+=("$letter")
    done
    return 0
}

complete -F _morla morla
