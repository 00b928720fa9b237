#!/bin/bash
# Every shell script of the source tree through shellcheck: a file whose first
# line runs sh or bash, or that names its shell in a "# shellcheck shell="
# line. Any finding fails the test, and so does a missing shellcheck: the
# guard never passes without having looked.
#   tests/guards/shellcheck.sh SOURCE_DIR
set -euo pipefail
cd "${1:?usage: shellcheck.sh SOURCE_DIR}"

command -v shellcheck >/dev/null || { echo "shellcheck: not installed (run scripts/setup)" >&2; exit 1; }

declare -A named
while IFS= read -r -d '' file; do
  named[$file]=1
done < <(grep -rlZE '^# shellcheck shell=' --exclude-dir=build --exclude-dir=.git .)
shebang='^#!.*[/ ](ba)?sh([[:space:]]|$)'
scripts=()
while IFS= read -r -d '' file; do
  first=
  IFS= read -r first <"$file" || true
  if [[ $first =~ $shebang || -n ${named[$file]:-} ]]; then
    scripts+=("$file")
  fi
done < <(find . \( -path ./build -o -path ./.git \) -prune -o -type f -print0 | sort -z)

# The command every run starts with must be among them, or the rule above broke.
[[ " ${scripts[*]} " == *" ./scripts/test "* ]] || { echo "shellcheck: scripts/test not found as a shell script" >&2; exit 1; }
echo "shellcheck: ${#scripts[@]} scripts"
shellcheck -- "${scripts[@]}"
