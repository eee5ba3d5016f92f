# bash completion for mvscan: every option, the values that have a fixed
# choice, and file names by what the run reads: MORVEN data files (*.mv,
# and *.mv.zst, *.mv.gz for the compressed files to come), or statistics
# documents (*.json) after --merge; directories always.

# Offers the names that start with $cur and match one of the patterns, and
# every directory.
_mvscan_files() {
  local IFS=$'\n' name pattern
  COMPREPLY=()
  for name in $(compgen -f -- "$cur"); do
    if [[ -d $name ]]; then
      COMPREPLY+=("$name")
      continue
    fi
    for pattern in "$@"; do
      # shellcheck disable=SC2053 # the pattern is meant to match
      if [[ $name == $pattern ]]; then
        COMPREPLY+=("$name")
        break
      fi
    done
  done
}

_mvscan() {
  local cur prev word
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
    -H | -s | --threads | --hot-factor | --idle | --interval)
      COMPREPLY=()
      return
      ;;
    --image | --html | --hot-pixels | --snapshot)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
  esac
  case $cur in
    --image=*)
      cur=${cur#--image=}
      COMPREPLY=($(compgen -f -- "$cur"))
      ;;
    --*)
      COMPREPLY=($(compgen -W "--help --version --json --image --no-image --merge
        --allow-duplicates --strict --no-progress --threads --html --hot-pixels
        --hot-factor --follow --idle --interval --snapshot" -- "$cur"))
      ;;
    -*)
      COMPREPLY=($(compgen -W "-0 -c -C -e -E -f -F -h -H -j -L -p -P -Q -q -r -R -s -V -w -W
        --help --version --json --image --no-image --merge --allow-duplicates --strict
        --no-progress --threads --html --hot-pixels --hot-factor --follow --idle
        --interval --snapshot" -- "$cur"))
      ;;
    *)
      for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        [[ $word == --merge ]] && { _mvscan_files '*.json'; return; }
        [[ $word == -- ]] && break
      done
      _mvscan_files '*.mv' '*.mv.zst' '*.mv.gz'
      ;;
  esac
}
complete -o filenames -F _mvscan mvscan
