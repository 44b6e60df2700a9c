# bash completion for blockmqo-cli: its options, the formats, and block data
# files (*.bd1, any case) and folders for the operands.
_blockmqo_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  case $prev in
    -f | --format) mapfile -t COMPREPLY < <(compgen -W 'mqo obj glb' -- "$cur"); return ;;
    -d | --directory | --textures) compopt -o filenames; mapfile -t COMPREPLY < <(compgen -d -- "$cur"); return ;;
    -o | --output) compopt -o filenames; mapfile -t COMPREPLY < <(compgen -f -- "$cur"); return ;;
  esac
  if [[ $cur == -?* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '-o --output -d --directory -f --format --remove-hidden-faces
      --share-vertices --optimize --overwrite --textures -q --quiet -h --help --version' -- "$cur")
  else
    compopt -o filenames
    mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[bB][dD]1' -- "$cur")
  fi
}
complete -F _blockmqo_cli blockmqo-cli
