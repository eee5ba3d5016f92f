# bash completion for mvscan: every option, the arguments that have a fixed
# choice, MORVEN data files (and statistics documents after --merge).
_mvscan() {
  local cur prev
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  case $prev in
    -F)
      COMPREPLY=($(compgen -W "8 16" -- "$cur"))
      return
      ;;
    -L)
      COMPREPLY=($(compgen -W "1 2 3 4 5 6 7 8" -- "$cur"))
      return
      ;;
    -H | -s | --threads)
      return
      ;;
    --image)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
  esac
  case $cur in
    --*)
      COMPREPLY=($(compgen -W "--help --version --json --image --no-image --merge
        --allow-duplicates --strict --no-progress --threads" -- "$cur"))
      ;;
    -*)
      COMPREPLY=($(compgen -W "-0 -c -C -e -E -f -F -h -H -j -L -p -P -Q -q -r -R -s -V -w -W
        --help --version --json --image --no-image --merge --allow-duplicates --strict
        --no-progress --threads" -- "$cur"))
      ;;
    *)
      COMPREPLY=($(compgen -f -- "$cur"))
      ;;
  esac
}
complete -o filenames -o bashdefault -F _mvscan mvscan
