# bash completion for mvgen: every option, the kinds of content (-k), the
# number of links (-L) and a file name for the output (-o).
_mvgen() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  case $prev in
    -k)
      COMPREPLY=($(compgen -W "toatot pc24 frame8 frame16 testgen counter" -- "$cur"))
      ;;
    -L)
      COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8" -- "$cur"))
      ;;
    -o)
      COMPREPLY=($(compgen -f -- "$cur"))
      ;;
    -b | -c | -e | -n | -s | -t)
      COMPREPLY=()
      ;;
    *)
      COMPREPLY=($(compgen -W "-b -c -e -h -k -L -n -o -s -t -V -W" -- "$cur"))
      ;;
  esac
}
complete -o filenames -F _mvgen mvgen
