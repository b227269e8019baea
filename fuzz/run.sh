#!/usr/bin/env bash
# Runs every fuzz harness for a bounded time: fuzz/run.sh BUILD_DIR SECONDS_EACH [NAME...]
# (NAME as fuzz_pyexpr; default: every harness built).
# Seeds come from fuzz/corpus/<name>; new inputs go to BUILD_DIR/corpus/<name> (not committed).
set -euo pipefail
build=$1; seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
only=" $* "
here=$(cd "$(dirname "$0")" && pwd)
status=0
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  [ "$only" = "  " ] || [[ "$only" == *" $name "* ]] || continue
  work="$build/corpus/$name"; mkdir -p "$work"
  seeds="$here/corpus/${name#fuzz_}"; [ -d "$seeds" ] || seeds=
  dict="$here/dict/${name#fuzz_}.dict"; dictarg=(); [ -f "$dict" ] && dictarg=(-dict="$dict")
  echo "=== $name for ${seconds}s"
  if ! "$bin" "${dictarg[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$build/crash-$name-" "$work" $seeds 2>"$build/$name.log"; then
    echo "!!! $name failed; see $build/$name.log"; tail -40 "$build/$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|stat::new_units_added' "$build/$name.log" | tr '\n' ' '; echo
    echo "corpus: $(ls "$work" | wc -l) files"
  fi
done
exit $status
