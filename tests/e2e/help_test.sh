#!/usr/bin/env bash
# Each command's --help lists the options it reads and no other: --threads
# only where there is a scan, --quiet only where there is something to silence;
# every option's help starts in the same column, a long flag on a line of its own.
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
  "$bin" "$command" --help | awk '
    /^  --/ { if (substr($0, 27, 1) == " " && substr($0, 28, 1) != " ") next; alone = $0; next }
    alone != "" { if (substr($0, 1, 28) !~ /^ +[^ ]$/) { print "the help of" alone " is not aligned"; exit 1 }
                  alone = "" }
    END { if (alone != "") { print alone " has no help"; exit 1 } }' > "$work/why" || fail "$(cat "$work/why")"
  end_case
done
finish
