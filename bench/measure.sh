#!/usr/bin/env bash
# Measures decimal: the micro-benchmarks, then the instructions, peak memory
# and time of whole runs on the example and on two large inputs made here,
# and decimal-diff's whole run on the example against decimal's.
#
#   bench/measure.sh                                     builds the bench preset first
#   bench/measure.sh DECIMAL DECIMAL_BENCH DECIMAL_DIFF  uses these binaries
#
# Instructions are counted by callgrind in an empty environment: glibc's
# start-up scans the environment, about 550 instructions per variable, and
# the count should not depend on the shell that runs it.
# Exits 1 when a figure misses its target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if (($# == 0)); then
  (cd "$root" && cmake --preset bench >/dev/null &&
    cmake --build --preset bench --target decimal decimal_bench decimal-diff >/dev/null)
  set -- "$root/build/bench/decimal" "$root/build/bench/bench/decimal_bench" \
    "$root/build/bench/decimal-diff"
fi
decimal=$(realpath "$1")
bench=$(realpath "$2")
decimal_diff=$(realpath "$3")

max_instructions=320000
max_kib=4096
max_ratio_to_baseline=0.02
max_diff_to_decimal=1.5
failed=0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== converter and report"
"$bench" --benchmark_out="$work/bench.csv" --benchmark_out_format=csv
# CSV columns: name,iterations,real_time,cpu_time,...
ratio=$(awk -F, '$1 ~ /"to_fixed_all_patterns"/ {t = $4}
                 $1 ~ /"per_bit_baseline_all_patterns"/ {b = $4}
                 END {printf "%.4f", t / b}' "$work/bench.csv")
echo "to_fixed takes $ratio of the per-bit baseline's time (target: at most $max_ratio_to_baseline)"
awk -v r="$ratio" -v m="$max_ratio_to_baseline" 'BEGIN {exit !(r <= m)}' || failed=1

echo
echo "== whole runs of $decimal"
files=(samples.txt results_m.txt results_c.txt)
mkdir "$work/example" "$work/whitespace" "$work/trailing"
for dir in example whitespace trailing; do
  for file in "${files[@]}"; do cp "$root/example/$file" "$work/$dir/"; done
done
# 64 MiB of blanks and line feeds before the first sample.
head -c $((64 << 20)) < <(yes '               ') >"$work/whitespace/samples.txt"
cat "$root/example/samples.txt" >>"$work/whitespace/samples.txt"
# 1 GiB of other data (zero bytes, sparse on disk) after the 201st result.
truncate -s +1G "$work/trailing/results_c.txt"

# Instructions of a whole run of "$@" in the current directory, whatever its status.
count_instructions() {
  env -i /usr/bin/valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" \
    >/dev/null 2>"$work/callgrind.log" || true
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/callgrind.log"
}

printf '%-11s %13s %14s %9s\n' input instructions "peak memory" seconds
for dir in example whitespace trailing; do
  cd "$work/$dir"
  if ! "$decimal" | cmp -s - "$root/example/expected_report.txt"; then
    echo "$dir: the report differs from example/expected_report.txt"
    failed=1
  fi
  instructions=$(count_instructions "$decimal")
  if [[ $dir == example ]]; then decimal_count=$instructions; fi
  read -r kib seconds < <(/usr/bin/time -f '%M %e' "$decimal" 2>&1 >/dev/null)
  printf '%-11s %13s %10s KiB %9s\n' "$dir" "$instructions" "$kib" "$seconds"
  # 64 MiB of white space must be read, so only memory and time count there.
  if [[ $dir != whitespace ]] && ((instructions > max_instructions)); then failed=1; fi
  if ((kib > max_kib)); then failed=1; fi
  if awk -v s="$seconds" 'BEGIN {exit !(s >= 1)}'; then failed=1; fi
done
echo "targets: at most $max_instructions instructions (example, trailing), $max_kib KiB, under 1 s"

echo
echo "== decimal-diff on the example, against decimal"
cd "$work/example"
"$decimal_diff" >"$work/verdict.txt" || true  # the example fails its bit-exact check
if ! cmp -s "$work/verdict.txt" "$root/example/expected_diff.txt"; then
  echo "the verdict differs from example/expected_diff.txt"
  failed=1
fi
diff_count=$(count_instructions "$decimal_diff")
ratio=$(awk -v d="$diff_count" -v b="$decimal_count" 'BEGIN {printf "%.2f", d / b}')
echo "decimal-diff: $diff_count instructions, $ratio times decimal's $decimal_count" \
  "(target: at most $max_diff_to_decimal)"
awk -v r="$ratio" -v m="$max_diff_to_decimal" 'BEGIN {exit !(r <= m)}' || failed=1
if ((failed)); then
  echo "FAILED: a figure misses its target"
  exit 1
fi
echo "all figures within their targets"
