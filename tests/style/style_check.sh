#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# The house style, checked over the source tree as it stands:
#   style_check.sh format  SOURCE_DIR   clang-format finds nothing to change
#   style_check.sh shell   SOURCE_DIR   shellcheck finds nothing in any script
#   style_check.sh licence SOURCE_DIR   every source file names its licence
#   style_check.sh length  SOURCE_DIR   no source file over 400 lines
set -euo pipefail
mode=$1
cd "$2"

# Files git knows (or, outside a checkout, the ones on disk), minus the build
# trees.
list() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- "$@"
  else
    local pattern find_args=()
    for pattern in "$@"; do
      find_args+=(-o -path "./$pattern")
    done
    find . -path ./build -prune "${find_args[@]}" -type f -print | sed 's|^\./||'
  fi
}

case "$mode" in
format)
  mapfile -t files < <(list '*.cpp' '*.h')
  clang-format --dry-run -Werror "${files[@]}"
  echo "clang-format: ${#files[@]} files as the style has them"
  ;;
shell)
  mapfile -t files < <(list '*.sh' '.ci/run')
  shellcheck -x "${files[@]}"
  echo "shellcheck: ${#files[@]} scripts clean"
  ;;
licence)
  mapfile -t files < <(list '*.cpp' '*.h' '*.sh' '*.py' '*.cmake' '*.ttl.in' 'CMakeLists.txt' '*/CMakeLists.txt' '.ci/run')
  missing=0
  for f in "${files[@]}"; do
    # The line may follow a shebang.
    if ! head -n 2 "$f" | grep -q 'SPDX-License-Identifier: ISC'; then
      echo "no SPDX-License-Identifier line at the top of $f" >&2
      missing=1
    fi
  done
  [ "$missing" -eq 0 ]
  echo "licence: ${#files[@]} files name it"
  ;;
length)
  mapfile -t files < <(list '*.cpp' '*.h')
  long=$(wc -l "${files[@]}" | awk '$2 != "total" && $1 > 400 {print "  " $2 ": " $1 " lines"}')
  [ -z "$long" ] || { printf 'over 400 lines, split by concern:\n%s\n' "$long" >&2; exit 1; }
  echo "length: ${#files[@]} files of 400 lines or fewer"
  ;;
*)
  echo "usage: style_check.sh format|shell|licence|length SOURCE_DIR" >&2
  exit 2
  ;;
esac
