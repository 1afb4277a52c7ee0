# bash completion for velmora-flash
_velmora_flash() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
        --device)
            # ALSA rawmidi nodes and serial ttys are the byte streams it takes.
            COMPREPLY=($(compgen -W "$(compgen -G '/dev/snd/midiC*D*'; compgen -G '/dev/tty[A-Z]*')" -- "$cur"))
            [ ${#COMPREPLY[@]} -gt 0 ] || COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --instance)
            COMPREPLY=($(compgen -W "$(seq 1 20)" -- "$cur"))
            return
            ;;
        --in | --out | --timing-scale)
            # A port's name or number, a factor: nothing to offer.
            return
            ;;
    esac
    COMPREPLY=($(compgen -W "--in --out --device --emulate --emulate= --instance --list --verify
                              --timing-scale --help --version" -- "$cur"))
    # "--emulate=" takes a scenario after it: no space yet.
    [ "${COMPREPLY[*]}" = "--emulate=" ] && compopt -o nospace
}
complete -F _velmora_flash velmora-flash
