#!/usr/bin/env bash
# The generated bash, zsh and fish completions load in their shells and
# complete what truxpack takes: commands, options, option values, and files
# of the right kind for each argument (.toml for build, .exe for list,
# verify and extract, a directory for extract's and init's target), in a
# folder holding one file of each kind. zsh's completion runs for real in
# an interactive zsh on a pseudo-terminal (zsh/zpty).
# Usage: completions.sh SRCROOT BUILDDIR
set -uo pipefail
DIR="$2/tools/truxpack/completions"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

for shell in bash zsh fish; do
  command -v "$shell" >/dev/null || { echo "FAIL $shell is not installed (scripts/install-deps installs it)"; exit 1; }
done
for f in truxpack.bash _truxpack truxpack.fish; do
  [ -s "$DIR/$f" ] || { echo "FAIL $DIR/$f was not generated"; exit 1; }
done

# Each shell loads its script.
loaded="$(bash --norc --noprofile -c "source '$DIR/truxpack.bash' && complete -p truxpack" 2>&1)"
[ "$loaded" = 'complete -F _truxpack truxpack' ] && echo "ok   bash loads truxpack.bash" ||
  fail "bash does not register _truxpack: $loaded"
loaded="$(zsh -f -c "fpath=('$DIR' \$fpath); autoload -Uz compinit && compinit -u -D && print -r -- \$_comps[truxpack]" 2>&1)"
[ "$loaded" = '_truxpack' ] && echo "ok   zsh's compinit finds _truxpack" ||
  fail "zsh's compinit does not register _truxpack: $loaded"
loaded="$(fish --no-config -c "source '$DIR/truxpack.fish'; and complete -c truxpack" 2>&1)"
[[ "$loaded" == *"-a build "* ]] && echo "ok   fish loads truxpack.fish" || fail "fish does not load truxpack.fish: $loaded"

work="$tmp/work"
mkdir -p "$work/sub"
touch "$work/p.toml" "$work/a.exe" "$work/B.EXE" "$work/x.txt"

# What each shell offers for a command line (the word under the cursor is
# the last one, empty after a space): the offers' first words, sorted, once
# each, without the slash after a directory.
offers_bash() {
  local -a words
  read -ra words <<<"$1"
  [[ "$1" == *" " ]] && words+=("")
  (cd "$work" && bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
    _truxpack 2>/dev/null
    printf "%s\n" "${COMPREPLY[@]}"' _ "$DIR/truxpack.bash" "${words[@]}")
}
offers_fish() {
  (cd "$work" && fish --no-config -c 'source $argv[1]; complete -C $argv[2] | string split -f1 \t' "$DIR/truxpack.fish" "$1")
}
cat >"$tmp/capture.zsh" <<'EOF'
# Types each command line into one interactive zsh on a pseudo-terminal,
# presses Tab, and prints every match the completion adds (compadd is
# wrapped to report them), each line's matches after a line "CASE n".
# Usage: zsh -f capture.zsh FPATH_DIR LINE...
zmodload zsh/zpty || exit 2
zpty z zsh -f -i
zpty -w z "PROMPT=''; RPROMPT=''; fpath=(${(q)1} \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w z 'zstyle ":completion:*" list-grouped false'
zpty -w z 'compadd() { if (( ${argv[(I)-[OAD]]} )); then builtin compadd "$@"; return; fi; local -a hits; builtin compadd -O hits "$@"; (( $#hits )) && print -r -- "MATCH:${(j: :)hits}"; builtin compadd "$@"; }'
zpty -w z 'capture-complete() { zle complete-word; print -r -- COMPLETION-DONE; }; zle -N capture-complete'
zpty -w z 'bindkey "^I" capture-complete; print -r -- READY'
# Reads the terminal until a line holds the text (at most 10 s).
await() {
  local line i
  for (( i = 0; i < 200; i++ )); do
    if zpty -r -t z line; then
      [[ $line == *$1* ]] && return 0
      [[ $line == *MATCH:* ]] && print -r -- "${${line#*MATCH:}%$'\r'}"
    else
      sleep 0.05
    fi
  done
  return 1
}
await READY >/dev/null || exit 2
shift
for (( n = 1; n <= $#; n++ )); do
  print -r -- "CASE $n"
  zpty -w -n z "${argv[n]}"$'\t'
  await COMPLETION-DONE
  zpty -w -n z $'\C-u'
done
zpty -d z
EOF
zsh_offers=()
# All lines in one zsh; offers_zsh then picks a line's matches.
capture_zsh() {
  local lines=() c out current=-1 line
  for c in "${cases[@]}"; do lines+=("${c%%|*}"); done
  out="$(cd "$work" && zsh -f "$tmp/capture.zsh" "$DIR" "${lines[@]}")"
  while IFS= read -r line; do
    if [[ "$line" == "CASE "* ]]; then current=$(( ${line#CASE } - 1 )); zsh_offers[current]=""; continue; fi
    [ "$current" -ge 0 ] && zsh_offers[current]+="$line"$'\n'
  done <<<"$out"
}
offers_zsh() { printf '%s' "${zsh_offers[$2]:-}" | tr ' ' '\n'; }

normal() { tr -d '\r' | sed -e 's|/$||' -e '/^$/d' | sort -u | tr '\n' ' ' | sed 's/ $//'; }

# command line | expected offers
cases=(
  "truxpack bu|build"
  "truxpack ve|verify"
  "truxpack build |p.toml sub"
  "truxpack list |B.EXE a.exe sub"
  "truxpack verify |B.EXE a.exe sub"
  "truxpack extract |B.EXE a.exe sub"
  "truxpack extract a.exe |sub"
  "truxpack init |sub"
  "truxpack build --level |best fast"
  "truxpack build -o |B.EXE a.exe sub"
  "truxpack build -o x.exe |p.toml sub"
  "truxpack build --st|--stub"
  "truxpack list --js|--json"
  "truxpack help |build compress decompress diff extract help init list schema snapshot stub try verify"
  "truxpack try |B.EXE a.exe sub"
  "truxpack try --scr|--screens"
  "truxpack snapshot |sub"
  "truxpack compress |B.EXE a.exe p.toml sub x.txt"
)
capture_zsh
for shell in bash fish zsh; do
  bad=0
  for i in "${!cases[@]}"; do
    line="${cases[i]%%|*}" want="${cases[i]#*|}"
    got="$("offers_$shell" "$line" "$i" 2>/dev/null | normal)"
    [ "$got" = "$want" ] || { fail "$shell: \"$line\" offers \"$got\", expected \"$want\""; bad=1; }
  done
  [ "$bad" = 0 ] && echo "ok   $shell completes all ${#cases[@]} command lines"
done

[ "$failures" = 0 ] && echo "completions: all checks pass" || echo "completions: $failures failure(s)"
exit $((failures > 0))
