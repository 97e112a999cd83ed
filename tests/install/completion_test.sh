#!/usr/bin/env bash
# The bash completion against the packer's help: exactly the commands and each
# command's options, no options offered as an option's value, and a few values
# (--input folders, --child names under --input, --icon .ico files). Runs the
# packer; writes only under SCRATCH.
#   completion_test.sh PACKER COMPLETION_FILE SCRATCH
set -euo pipefail
packer=$(realpath "$1") completion=$2 scratch=$3
# shellcheck source=/dev/null
source "$completion"
compopt() { :; }  # outside a completion run the builtin fails; bash adds the slashes it would set

fail=0
# check "EXPECTED (sorted, one per line)" WORD...: completes the last word.
check() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quorin_pack
  local actual
  actual=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort)
  if [ "$actual" != "$expected" ]; then
    printf 'completing "%s":\n  expected: %s\n  got:      %s\n' "$*" "$(echo $expected)" "$(echo $actual)" >&2
    fail=1
  fi
}
lines() { printf '%s\n' "$@" | LC_ALL=C sort; }

general=$("$packer" --help)
mapfile -t commands < <(sed -n 's/^  \([a-z][a-z]*\)  .*/\1/p' <<<"$general")
# Option lines: "  -h, --help  text" or "      --input DIR  text"; their text
# goes on further in.
long_options() { sed -n -E 's/^(  -[A-Za-z0-9], |      )(--[a-z-]+).*/\2/p'; }
mapfile -t general_options < <(long_options <<<"$general")
[ ${#commands[@]} -gt 0 ] || { echo "no commands in '$packer --help'" >&2; exit 1; }
check "$(lines "${commands[@]}" help "${general_options[@]}")" quorin-pack ""
check "$(lines "${commands[@]}")" quorin-pack help ""
rm -rf "$scratch" && mkdir -p "$scratch/app/bin" "$scratch/art"
touch "$scratch/app/bin/app.exe" "$scratch/app/readme.txt" "$scratch/art/app.ico" "$scratch/art/app.png"
cd "$scratch"
for command in "${commands[@]}"; do
  help=$("$packer" "$command" --help)
  mapfile -t options < <(long_options <<<"$help")
  check "$(lines "${options[@]}")" quorin-pack "$command" --
  # Every option that takes a value, long and short ("-o, --output FILE").
  valued='h; s/^(  -[A-Za-z0-9], |      )(--[a-z-]+) [A-Z].*/\2/p; g; s/^  (-[A-Za-z0-9]), --[a-z-]+ [A-Z].*/\1/p'
  for option in $(sed -n -E "$valued" <<<"$help"); do
    COMP_WORDS=(quorin-pack "$command" "$option" "")
    COMP_CWORD=3
    _quorin_pack
    if [[ " ${COMPREPLY[*]} " == *" --"* ]]; then
      echo "completing the value of $command $option offers options" >&2
      fail=1
    fi
  done
done
check "$(lines app)" quorin-pack build --input ap
check "$(lines bin/)" quorin-pack build --input app --child b
check "$(lines bin/app.exe)" quorin-pack build --input = app --child bin/  # bash splits at "="
check "$(lines art/app.ico)" quorin-pack build --icon art/
check "$(lines art/app.ico art/app.png)" quorin-pack build -qo art/
check "" quorin-pack build --company ""
[ $fail -eq 0 ] || exit 1
echo "completion: ${#commands[@]} commands and their options as in the help; values as expected"
