#!/usr/bin/env bash
# Each command's --help lists the options it reads and no other: --threads
# only where there is a scan, --quiet only where there is something to silence.
#   help_test.sh path/to/veltrane
source "$(dirname "$0")/lib.sh"
lists() {  # command option...: whether the help lists each option
  local help
  help=$("$bin" "$1" --help) || return 1
  shift
  for option; do grep -q -- "^  --$option\b" <<< "$help" || return 1; done
}
for row in "convert quiet -threads" "run threads quiet" "part threads quiet" "merge quiet -threads" \
           "plot -threads"; do
  read -r command options <<< "$row"
  begin_case "help-$command"
  for option in $options; do
    if [[ $option == -* ]]; then
      lists "$command" "${option#-}" && fail "--help lists --${option#-}, which $command does not read"
    else
      lists "$command" "$option" || fail "--help does not list --$option"
    fi
  done
  end_case
done
finish
