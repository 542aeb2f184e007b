#!/usr/bin/env bash
# Measures decimal and decimal-diff: the micro-benchmarks; the instructions,
# peak memory and time of whole runs of decimal on the example and on two
# large inputs made here, against a plain C program writing the same report;
# decimal-diff's whole run on the example against decimal's; and decimal-diff
# on generated test vectors of 10^6 and 10^7 entries, side by side with a
# numpy script computing the same figures and numdiff; and one call over
# 1000 copies of the example against the README's shell loop over them; the
# report pages of 1000 directories of 4096 entries with 50 and with 995
# failing, their size and when headless chromium can use them; at
# 10^6 entries the same values in hex and raw s16le words, a floating-point
# model's (text reals, f64le, .npy) against the integers', and a search for
# the delay of results 4 entries late, within 256 and within 65535; as many
# frames of 2 channels (and I/Q with the EVM) against the same entries read
# as one channel, and their memory at 10^7 frames; and at 10^7 entries,
# bit-exact, the JUnit and JSON reports against -q alone.
#
#   bench/measure.sh            builds the bench preset first
#   bench/measure.sh DECIMAL DECIMAL_BENCH DECIMAL_DIFF MAKE_VECTORS LEAN_REPORT
#
# Instructions are counted by callgrind in an empty environment: glibc's
# start-up scans the environment, about 550 instructions per variable, and
# the count should not depend on the shell that runs it. Times are the best
# of ten runs at 10^6 entries, of three elsewhere. Exits 1 when a figure
# misses its target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if (($# == 0)); then
  (cd "$root" && cmake --preset bench >/dev/null &&
    cmake --build --preset bench --target decimal decimal_bench decimal-diff make_vectors \
      lean_report >/dev/null)
  set -- "$root/build/bench/decimal" "$root/build/bench/bench/decimal_bench" \
    "$root/build/bench/decimal-diff" "$root/build/bench/bench/make_vectors" \
    "$root/build/bench/bench/lean_report"
fi
decimal=$(realpath "$1")
bench=$(realpath "$2")
decimal_diff=$(realpath "$3")
make_vectors=$(realpath "$4")
lean_report=$(realpath "$5")

max_instructions=320000
max_kib=4096
max_ratio_to_baseline=0.02
max_decimal_to_lean=1.55
max_diff_to_decimal=1.5
max_diff_kib=8192
max_time_to_numpy=0.1
max_time_to_numdiff=0.02
max_instructions_per_byte=12
max_call_to_loop=0.2
max_reports_to_quiet=1.2
max_hex_to_dec=1.3
max_hex_per_byte=12
max_s16_to_dec=0.5
max_s16_per_byte=4
max_real_to_dec=2
max_f64_to_dec=0.6
max_npy_to_dec=0.6
max_auto_to_given=2
max_wide_auto_to_given=3
max_channels_to_one=1.3
max_complex_to_one=1.5
max_usable_50=1
max_usable_995=2
failed=0
python=/usr/bin/python3  # Debian's, which python3-numpy serves
numdiff=$(command -v numdiff)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# within VALUE LIMIT: VALUE <= LIMIT, as decimal numbers
within() { awk -v v="$1" -v m="$2" 'BEGIN {exit !(v <= m)}'; }

# Instructions of a whole run of "$@" in the current directory, whatever its status.
count_instructions() {
  env -i /usr/bin/valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" \
    >/dev/null 2>"$work/callgrind.log" || true
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/callgrind.log"
}

# check_ratio WHAT COUNT OTHER OTHER_COUNT TARGET: prints COUNT as a ratio to
# OTHER_COUNT instructions, and fails the run when it is above TARGET.
check_ratio() {
  local ratio
  ratio=$(awk -v d="$2" -v b="$4" 'BEGIN {printf "%.2f", d / b}')
  echo "$1: $2 instructions, $ratio times $3 $4 (target: at most $5)"
  within "$ratio" "$5" || failed=1
}

# Peak memory in KiB of a run of "$@", whatever its status.
peak_kib() {
  /usr/bin/time -f '%M' -o "$work/time.txt" "$@" >/dev/null 2>&1 || true
  tail -n 1 "$work/time.txt"
}

# Best wall time in seconds of RUNS runs of "$@", whatever their status: the
# least is the run that other work on the machine disturbed least. The clock
# is bash's own, so that starting a clock program is not timed with the run.
best_seconds() {
  local runs=$1 best=
  shift
  for ((run = 0; run < runs; ++run)); do
    local start=${EPOCHREALTIME//[!0-9]/} took
    "$@" >/dev/null 2>&1 || true
    took=$((${EPOCHREALTIME//[!0-9]/} - start))
    if [[ -z $best ]] || ((took < best)); then best=$took; fi
  done
  awk -v us="$best" 'BEGIN {printf "%.4f", us / 1e6}'
}

echo "== converter and report"
"$bench" --benchmark_out="$work/bench.csv" --benchmark_out_format=csv
# CSV columns: name,iterations,real_time,cpu_time,...
ratio=$(awk -F, '$1 ~ /"to_fixed_all_patterns"/ {t = $4}
                 $1 ~ /"per_bit_baseline_all_patterns"/ {b = $4}
                 END {printf "%.4f", t / b}' "$work/bench.csv")
echo "to_fixed takes $ratio of the per-bit baseline's time (target: at most $max_ratio_to_baseline)"
within "$ratio" "$max_ratio_to_baseline" || failed=1

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
  within "$seconds" 0.99 || failed=1
done
echo "targets: at most $max_instructions instructions (example, trailing), $max_kib KiB, under 1 s"

cd "$work/example"
if ! "$lean_report" | cmp -s - "$root/example/expected_report.txt"; then
  echo "the plain C peer's report differs from example/expected_report.txt"
  failed=1
fi
check_ratio decimal "$decimal_count" "the plain C peer's" "$(count_instructions "$lean_report")" \
  "$max_decimal_to_lean"

echo
echo "== decimal-diff on the example, against decimal"
"$decimal_diff" >"$work/verdict.txt" || true  # the example fails its bit-exact check
if ! cmp -s "$work/verdict.txt" "$root/example/expected_diff.txt"; then
  echo "the verdict differs from example/expected_diff.txt"
  failed=1
fi
check_ratio decimal-diff "$(count_instructions "$decimal_diff")" "decimal's" "$decimal_count" \
  "$max_diff_to_decimal"

echo
# The same vectors as a Verilog bench writes them ($fdisplay "%h") and as
# raw s16le words, each against decimal words of the same values.
measure_encodings() {
  local form files bytes_of seconds per_byte kib ratio
  for form in hex s16le; do
    files=(--model="results_m.${form%le}" --impl="results_c.${form%le}" --samples="samples.${form%le}")
    if ! "$decimal_diff" -q -t 2 -e "$form" "${files[@]}"; then
      echo "decimal-diff -e $form does not pass the generated vectors"
      failed=1
    fi
    bytes_of=$(cat "$dir"/*."${form%le}" | wc -c)
    seconds=$(best_seconds "$runs" "$decimal_diff" -t 2 -e "$form" "${files[@]}")
    per_byte=$(awk -v i="$(count_instructions "$decimal_diff" -t 2 -e "$form" "${files[@]}")" \
      -v b="$bytes_of" 'BEGIN {printf "%.2f", i / b}')
    kib=$(peak_kib "$decimal_diff" -t 2 -e "$form" "${files[@]}")
    ratio=$(awk -v a="$seconds" -v b="$diff_seconds" 'BEGIN {printf "%.2f", a / b}')
    printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  -e $form" "$seconds" "$per_byte" "$kib"
    echo "          -e $form takes $ratio of the decimal words' time"
    ((kib <= max_diff_kib)) || failed=1
    if [[ $form == hex ]]; then
      echo "          (targets: at most $max_hex_to_dec of the time, $max_hex_per_byte instructions" \
        "per byte)"
      within "$ratio" "$max_hex_to_dec" || failed=1
      within "$per_byte" "$max_hex_per_byte" || failed=1
    else
      echo "          (targets: at most $max_s16_to_dec of the time, $max_s16_per_byte instructions" \
        "per byte)"
      within "$ratio" "$max_s16_to_dec" || failed=1
      within "$per_byte" "$max_s16_per_byte" || failed=1
    fi
  done
}

# The model's values before rounding, as a floating-point model writes them:
# text reals (%.17g) beside the integer files, raw f64le words beside s16le
# ones, and a float64 .npy beside int16 .npy files, each against the decimal
# words of the rounded values; at 10^7 entries, peak memory alone.
measure_models() {
  local name seconds kib ratio target
  local -A options=(
    [real]="--model-encoding=real --model=results_m.real"
    [f64le]="--model-encoding=f64le --model=results_m.f64 --impl-encoding=s16le --impl=results_c.s16 --samples-encoding=s16le --samples=samples.s16"
    [npy]="-e npy --model=results_m.npy --impl=results_c.npy --samples=samples.npy")
  local -A targets=([real]=$max_real_to_dec [f64le]=$max_f64_to_dec [npy]=$max_npy_to_dec)
  for name in real f64le npy; do
    # shellcheck disable=SC2206
    local args=(${options[$name]})
    if ! "$decimal_diff" -q -t 2 "${args[@]}"; then
      echo "decimal-diff with a $name model does not pass the generated vectors"
      failed=1
    fi
    kib=$(peak_kib "$decimal_diff" -t 2 "${args[@]}")
    ((kib <= max_diff_kib)) || failed=1
    if ((entries != 1000000)); then
      printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  $name model" - - "$kib"
      continue
    fi
    seconds=$(best_seconds "$runs" "$decimal_diff" -t 2 "${args[@]}")
    ratio=$(awk -v a="$seconds" -v b="$diff_seconds" 'BEGIN {printf "%.2f", a / b}')
    target=${targets[$name]}
    printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  $name model" "$seconds" - "$kib"
    echo "          a $name model takes $ratio of the decimal words' time (target: at most $target)"
    within "$ratio" "$target" || failed=1
  done
}

# The implementation's results 4 entries late, as from a pipeline of 4
# stages: the search for the delay against a run given it.
measure_delay() {
  local given_seconds auto_seconds wide_seconds kib ratio
  { printf '0\n0\n0\n0\n'; cat results_c.txt; } >results_c.late
  if ! "$decimal_diff" -t 2 --impl=results_c.late --delay=auto |
    grep -qx 'delay: 4 (found between -256 and 256; the implementation holds 4 more entries)' ||
    ! "$decimal_diff" -q -t 2 --impl=results_c.late --delay=4; then
    echo "decimal-diff --delay=auto does not find the delay of 4, or the run does not pass with it"
    failed=1
  fi
  given_seconds=$(best_seconds "$runs" "$decimal_diff" -t 2 --impl=results_c.late --delay=4)
  auto_seconds=$(best_seconds "$runs" "$decimal_diff" -t 2 --impl=results_c.late --delay=auto)
  kib=$(peak_kib "$decimal_diff" -t 2 --impl=results_c.late --delay=auto)
  ratio=$(awk -v a="$auto_seconds" -v b="$given_seconds" 'BEGIN {printf "%.2f", a / b}')
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  --delay=4" "$given_seconds" - - \
    "$entries" "  --delay=auto" "$auto_seconds" - "$kib"
  echo "          the search takes $ratio of the run given the delay (target: at most $max_auto_to_given)"
  within "$ratio" "$max_auto_to_given" || failed=1
  ((kib <= max_diff_kib)) || failed=1
  # The widest search: its windows are cut to 2^26 pairs compared, whatever the bound.
  if ! "$decimal_diff" -q -t 2 --impl=results_c.late --delay=auto --max-delay=65535; then
    echo "decimal-diff --delay=auto --max-delay=65535 does not find the delay of 4"
    failed=1
  fi
  wide_seconds=$(best_seconds "$runs" "$decimal_diff" -t 2 --impl=results_c.late --delay=auto \
    --max-delay=65535)
  kib=$(peak_kib "$decimal_diff" -t 2 --impl=results_c.late --delay=auto --max-delay=65535)
  ratio=$(awk -v a="$wide_seconds" -v b="$given_seconds" 'BEGIN {printf "%.2f", a / b}')
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  --max-delay=65535" "$wide_seconds" - "$kib"
  echo "          the bounded search takes $ratio of the run given the delay" \
    "(target: at most $max_wide_auto_to_given)"
  within "$ratio" "$max_wide_auto_to_given" || failed=1
  ((kib <= max_diff_kib)) || failed=1
}

# As many frames of 2 channels as the vectors have entries (each result file
# twice over, interleaved): --channels=2 and --complex against the same
# entries read as one channel at 10^6 frames; peak memory at 10^7.
measure_channels() {
  local one_seconds seconds kib ratio name target
  cat results_m.txt results_m.txt >results_m.iq
  cat results_c.txt results_c.txt >results_c.iq
  local files=(-t 2 --samples=none --model=results_m.iq --impl=results_c.iq)
  local -A options=([channels]="--channels=2" [complex]="--complex --max-evm=1")
  local -A targets=([channels]=$max_channels_to_one [complex]=$max_complex_to_one)
  if ((entries == 1000000)); then
    one_seconds=$(best_seconds "$runs" "$decimal_diff" "${files[@]}")
    printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  2 channels read as one" \
      "$one_seconds" - -
  fi
  for name in channels complex; do
    # shellcheck disable=SC2206
    local args=("${files[@]}" ${options[$name]})
    if ! "$decimal_diff" -q "${args[@]}"; then
      echo "decimal-diff ${options[$name]} does not pass the generated frames"
      failed=1
    fi
    kib=$(peak_kib "$decimal_diff" "${args[@]}")
    ((kib <= max_diff_kib)) || failed=1
    if ((entries != 1000000)); then
      printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  ${options[$name]%% *} frames" - - "$kib"
      continue
    fi
    seconds=$(best_seconds "$runs" "$decimal_diff" "${args[@]}")
    ratio=$(awk -v a="$seconds" -v b="$one_seconds" 'BEGIN {printf "%.2f", a / b}')
    target=${targets[$name]}
    printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  ${options[$name]%% *} frames" \
      "$seconds" - "$kib"
    echo "          ${options[$name]%% *} takes $ratio of one channel's time (target: at most $target)"
    within "$ratio" "$target" || failed=1
  done
  rm results_m.iq results_c.iq
}

# Bit-exact, most entries of the vectors fail: the reports must hold only what
# they show. $TMPDIR names no directory, so that any use of it is trouble
# (exit 2): the runs must end in a plain fail (exit 1) using none.
measure_reports() {
  local status
  echo "(bit-exact: $("$decimal_diff" -t 0 | tail -n 1); \$TMPDIR names no directory)"
  for run in "-q" "-q --junit=$work/report.xml" "--json --junit=$work/report.xml"; do
    status=0
    # shellcheck disable=SC2086  # the options are words
    TMPDIR=/nonexistent "$decimal_diff" -t 0 $run >/dev/null 2>"$work/reports.err" || status=$?
    if ((status != 1)); then
      echo "decimal-diff -t 0 $run: exit $status, $(cat "$work/reports.err")"
      failed=1
    fi
  done
  quiet_seconds=$(TMPDIR=/nonexistent best_seconds 3 "$decimal_diff" -t 0 -q)
  junit_seconds=$(TMPDIR=/nonexistent best_seconds 3 "$decimal_diff" -t 0 -q \
    --junit="$work/report.xml")
  json_seconds=$(TMPDIR=/nonexistent best_seconds 3 "$decimal_diff" -t 0 --json \
    --junit="$work/report.xml")
  junit_kib=$(TMPDIR=/nonexistent peak_kib "$decimal_diff" -t 0 -q --junit="$work/report.xml")
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "decimal-diff -t 0 -q" "$quiet_seconds" - - \
    "$entries" "  -q --junit" "$junit_seconds" - "$junit_kib" \
    "$entries" "  --json --junit" "$json_seconds" - -
  for seconds in "$junit_seconds" "$json_seconds"; do
    ratio=$(awk -v a="$seconds" -v b="$quiet_seconds" 'BEGIN {printf "%.2f", a / b}')
    echo "          reports take $ratio of -q's time, 0 bytes of \$TMPDIR" \
      "(target: at most $max_reports_to_quiet)"
    within "$ratio" "$max_reports_to_quiet" || failed=1
  done
  ((junit_kib <= max_diff_kib)) || failed=1
}

echo "== decimal-diff on long test vectors, side by side with numpy and numdiff"
mkdir "$work/stub"
printf '#!/bin/sh\ncat >/dev/null\n' >"$work/stub/gnuplot"
chmod +x "$work/stub/gnuplot"
echo "(tolerance 2 LSB; every entry within it; instructions per byte of the three files)"
printf '%-9s %-26s %9s %13s %14s\n' entries program seconds instr/byte "peak memory"
for entries in 1000000 10000000; do
  dir="$work/vectors-$entries"
  mkdir "$dir"
  "$make_vectors" "$entries" "$dir"
  bytes=$(cat "$dir"/*.txt | wc -c)
  cd "$dir"
  # Each must do its job before its time counts.
  if ! "$decimal_diff" -q -t 2 || ! "$python" "$root/bench/numpy_diff.py" . 2 >/dev/null ||
    ! numdiff -q -a 2 results_m.txt results_c.txt; then
    echo "decimal-diff, the numpy script or numdiff does not pass the generated vectors"
    failed=1
  fi
  runs=$((entries == 1000000 ? 10 : 3))
  diff_seconds=$(best_seconds "$runs" "$decimal_diff" -t 2)
  numpy_seconds=$(best_seconds "$runs" "$python" "$root/bench/numpy_diff.py" . 2)
  numdiff_seconds=$(best_seconds 3 numdiff -q -a 2 results_m.txt results_c.txt)
  per_byte() { awk -v i="$1" -v b="$bytes" 'BEGIN {printf "%.2f", i / b}'; }
  diff_per_byte=$(per_byte "$(count_instructions "$decimal_diff" -t 2)")
  if ((entries == 1000000)); then
    numpy_per_byte=$(per_byte "$(count_instructions "$python" "$root/bench/numpy_diff.py" . 2)")
    numdiff_per_byte=$(per_byte "$(count_instructions "$numdiff" -q -a 2 results_m.txt results_c.txt)")
  else
    numpy_per_byte=- numdiff_per_byte=-  # too long under callgrind; the time tells
  fi
  diff_kib=$(peak_kib "$decimal_diff" -t 2)
  # decimal-diff's own memory with --plot, beside a gnuplot that draws nothing;
  # then with the real one, whose process is counted too.
  plot_kib=$(PATH="$work/stub:$PATH" peak_kib "$decimal_diff" -t 2 --plot="$work/plot.png")
  gnuplot_kib=$(peak_kib "$decimal_diff" -t 2 --plot="$work/plot.png")
  numpy_kib=$(peak_kib "$python" "$root/bench/numpy_diff.py" . 2)
  numdiff_kib=$(peak_kib numdiff -q -a 2 results_m.txt results_c.txt)
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" decimal-diff "$diff_seconds" \
    "$diff_per_byte" "$diff_kib"
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "decimal-diff --plot" - - "$plot_kib"
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "  and gnuplot drawing" - - "$gnuplot_kib"
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "numpy loadtxt script" "$numpy_seconds" \
    "$numpy_per_byte" "$numpy_kib"
  printf '%-9s %-26s %9s %13s %10s KiB\n' "$entries" "numdiff -q -a 2" "$numdiff_seconds" \
    "$numdiff_per_byte" "$numdiff_kib"
  to_numpy=$(awk -v a="$diff_seconds" -v b="$numpy_seconds" 'BEGIN {printf "%.3f", a / b}')
  to_numdiff=$(awk -v a="$diff_seconds" -v b="$numdiff_seconds" 'BEGIN {printf "%.4f", a / b}')
  echo "          decimal-diff takes $to_numpy of numpy's time, $to_numdiff of numdiff's"
  # The time targets are set at 10^6 entries; 10^7 shows how they hold up.
  if ((entries == 1000000)); then
    within "$to_numpy" "$max_time_to_numpy" || failed=1
    within "$to_numdiff" "$max_time_to_numdiff" || failed=1
  fi
  within "$diff_per_byte" "$max_instructions_per_byte" || failed=1
  ((diff_kib <= max_diff_kib && plot_kib <= max_diff_kib)) || failed=1
  if ((entries == 1000000)); then
    measure_encodings
    measure_delay
  fi
  measure_models
  measure_channels
  if ((entries == 10000000)); then measure_reports; fi
  rm -r "$dir"
done
echo "targets: at most $max_time_to_numpy of numpy's time and $max_time_to_numdiff of numdiff's" \
  "(at 10^6), $max_instructions_per_byte instructions per byte, $max_diff_kib KiB of its own" \
  "with --plot too"

echo
echo "== 1000 copies of the example: one call against the README's shell loop"
mkdir "$work/vectors"
for i in $(seq -w 1 1000); do cp -r "$work/example" "$work/vectors/run$i"; done
cd "$work"
one_call() { "$decimal_diff" --quiet --tolerance=7 vectors/*/; }
shell_loop() (
  for dir in vectors/*/; do
    "$decimal_diff" --quiet --tolerance=7 "$dir" || { echo "FAIL: $dir"; exit 1; }
  done
)
if ! one_call || ! shell_loop; then
  echo "the copies of the example do not all pass at 7 LSB"
  failed=1
fi
call_seconds=$(best_seconds 3 one_call)
loop_seconds=$(best_seconds 3 shell_loop)
ratio=$(awk -v a="$call_seconds" -v b="$loop_seconds" 'BEGIN {printf "%.3f", a / b}')
printf '%-34s %9s\n' "one call over 1000 directories" "$call_seconds" \
  "the shell loop, a call each" "$loop_seconds"
echo "one call takes $ratio of the loop's time (target: at most $max_call_to_loop)"
within "$ratio" "$max_call_to_loop" || failed=1

echo
echo "== report pages of a farm: 1000 directories of 4096 entries, 50 or 995 failing"
mkdir "$work/farm-vector" "$work/farm"
"$make_vectors" 4096 "$work/farm-vector"
for i in $(seq -f "%04g" 1 1000); do
  mkdir "$work/farm/run$i"
  cp "$work/farm-vector"/{samples,results_m,results_c}.txt "$work/farm/run$i"
done
# fail_farm FIRST LAST: directories FIRST to LAST get 20 entries 50 LSB off.
fail_farm() {
  for i in $(seq -f "%04g" "$1" "$2"); do
    awk 'NR % 200 == 7 {$0 += 50} {print}' "$work/farm/run$i/results_c.txt" >"$work/farm.tmp"
    mv "$work/farm.tmp" "$work/farm/run$i/results_c.txt"
  done
}
if browser=$(command -v chromium); then
  # Chromium headless, started so that it makes no request beyond the page.
  browse() {
    "$browser" --headless --no-sandbox --disable-gpu --disable-background-networking \
      --disable-component-update --disable-sync --no-first-run --proxy-server=127.0.0.1:9 \
      --host-resolver-rules="MAP * ~NOTFOUND" --user-data-dir="$work/profile" \
      --window-size=1280,800 --dump-dom "file://$1" 2>/dev/null
  }
  echo '<!DOCTYPE html><title>blank</title>' >"$work/blank.html"
  start_up=$(best_seconds 3 browse "$work/blank.html")
  echo "chromium's own start-up, on a blank page: $start_up s"
fi
# usable_seconds PAGE: when the page is usable after its navigation began,
# the best of three: its first screen drawn and its table's script run.
usable_seconds() {
  cat >"$work/probe.html" <<'PROBE'
<script>addEventListener("load", function () { setTimeout(function () {
  const ready = performance.getEntriesByName("decimal-diff: table ready")[0].startTime;
  const paint = performance.getEntriesByName("first-contentful-paint")[0].startTime;
  const out = document.createElement("pre"); out.id = "usable";
  out.textContent = Math.max(ready, paint) / 1000; document.body.appendChild(out);
}, 0); });</script>
PROBE
  sed "/^<head>$/r $work/probe.html" "$1" >"$work/probed.html"
  for _ in 1 2 3; do
    browse "$work/probed.html" | sed -n 's/.*<pre id="usable">\([0-9.]*\)<.*/\1/p'
  done | sort -g | head -n 1
}
# farm_page FAILING PAGE_TARGET_BYTES USABLE_TARGET_SECONDS WITH_START_UP
farm_page() {
  (cd "$work" && "$decimal_diff" --quiet --tolerance=7 --html="$work/page.html" farm/*/) || true
  local bytes usable
  bytes=$(wc -c <"$work/page.html")
  printf '%s failing: page %s bytes (target: under %s)\n' "$1" "$bytes" "$2"
  ((bytes < $2)) || failed=1
  [[ -n ${browser:-} ]] || return 0
  usable=$(usable_seconds "$work/page.html")
  if (($4)); then
    usable=$(awk -v a="$usable" -v b="$start_up" 'BEGIN {printf "%.3f", a + b}')
    echo "$1 failing: usable $usable s after chromium starts (target: within $3 s)"
  else
    echo "$1 failing: usable $usable s after the page's load began (target: within $3 s)"
  fi
  within "$usable" "$3" || failed=1
}
fail_farm 1 50
farm_page 50 $(((300 + 50 * 200) * 1024)) "$max_usable_50" 0
fail_farm 51 995
farm_page 995 $((10 * 1000 * 1000)) "$max_usable_995" 1

if ((failed)); then
  echo "FAILED: a figure misses its target"
  exit 1
fi
echo "all figures within their targets"
