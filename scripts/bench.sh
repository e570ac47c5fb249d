#!/usr/bin/env bash
# Compares zunlogx with spdlog, log4cplus and log4cxx in one run: installs
# what is missing, builds the comparison programs in Release, runs every case
# of every library interleaved, each ZUNLOGX_BENCH_RUNS times, and prints the
# medians as tables, each figure beside its ratio to a bare write(2) of the
# same line measured in the same run. The report also goes to
# docs/performance.md (ZUNLOGX_BENCH_OUT).
#
#   ZUNLOGX_BENCH_RUNS  runs of each case (5)
#   ZUNLOGX_BENCH_DIR   where the programs make their fresh log folders ($TMPDIR
#                       or /tmp); every case, the bare write included, writes
#                       there, so they share one file system
#   ZUNLOGX_BENCH_NOTE  a sentence about the conditions, put into the report
#
# A case the build cannot run (a program that was not built, or a library
# piece that is not there yet) shows "n/a (not built)".
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${ZUNLOGX_BENCH_RUNS:-5}
out=${ZUNLOGX_BENCH_OUT:-docs/performance.md}
export ZUNLOGX_BENCH_DIR=${ZUNLOGX_BENCH_DIR:-${TMPDIR:-/tmp}}
build=build/comparison

peer_packages=(libspdlog-dev liblog4cplus-dev liblog4cxx-dev)
bash scripts/setup.sh "${peer_packages[@]}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUNLOGX_TESTS=OFF \
  -DZUNLOGX_BENCH=ON -DZUNLOGX_BENCH_PEERS=ON >/dev/null
ninja -C "$build" -j"$(nproc)" comparison

sync_lines=200000
latency_lines=50000
drain_lines=200000
process_lines=200000
filtered_calls=1000000
queued_records=100000

declare -A program arguments
ids=()
add_case() {
  ids+=("$1")
  program[$1]=$2
  arguments[$1]=$3
}
bench_dir="$build/bench"
add_case bare_sync1 "$bench_dir/harness_bare" "sync file --threads 1 --lines $sync_lines"
add_case bare_sync2 "$bench_dir/harness_bare" "sync file --threads 2 --lines $sync_lines"
add_case bare_latency1 "$bench_dir/harness_bare" "latency file --threads 1 --lines $latency_lines"
add_case bare_latency4 "$bench_dir/harness_bare" "latency file --threads 4 --lines $latency_lines"
add_case bare_procs "$bench_dir/harness_bare" "procs file --procs 4 --lines $process_lines"
for lib in zunlogx spdlog log4cplus log4cxx; do
  exe="$bench_dir/harness_$lib"
  [ "$lib" = zunlogx ] || exe="$bench_dir/peers/harness_$lib"
  add_case "${lib}_sync1" "$exe" "sync file --threads 1 --lines $sync_lines"
  add_case "${lib}_sync2" "$exe" "sync file --threads 2 --lines $sync_lines"
  if [ "$lib" != zunlogx ]; then
    add_case "${lib}_buffered1" "$exe" "sync buffered --threads 1 --lines $sync_lines"
    add_case "${lib}_buffered2" "$exe" "sync buffered --threads 2 --lines $sync_lines"
  fi
  add_case "${lib}_rolled" "$exe" "sync rolled --threads 1 --lines $sync_lines --files 10"
  add_case "${lib}_latency1" "$exe" "latency async --threads 1 --lines $latency_lines"
  add_case "${lib}_latency4" "$exe" "latency async --threads 4 --lines $latency_lines"
  add_case "${lib}_drain" "$exe" "drain async --lines $drain_lines"
  add_case "${lib}_filtered" "$exe" "filtered file --lines $filtered_calls"
  add_case "${lib}_memory" "$exe" "memory async --lines $queued_records --queue $((queued_records + 1024))"
done
# Enough backups that nothing is removed, so every line can be looked for.
add_case zunlogx_procs "$bench_dir/harness_zunlogx" "procs rolled --procs 4 --lines $process_lines --files 200"
add_case log4cplus_procs "$bench_dir/peers/harness_log4cplus" "procs rolled --procs 4 --lines $process_lines --files 200"
add_case spdlog_procs "$bench_dir/peers/harness_spdlog" "procs rolled-default --procs 4 --lines $process_lines --files 200"

results=$(mktemp)
errors=$(mktemp)
trap 'rm -f "$results" "$errors"' EXIT

run_case() {
  local id=$1 rc=0 output
  if [ ! -x "${program[$id]}" ]; then
    printf '%s\tstatus\tna\n' "$id" >>"$results"
    return
  fi
  # log4cxx writes local time; UTC makes it the time the others write.
  output=$(TZ=UTC "${program[$id]}" ${arguments[$id]} 2>"$errors") || rc=$?
  if ((rc == 0)); then
    for pair in $output; do printf '%s\t%s\t%s\n' "$id" "${pair%%=*}" "${pair#*=}"; done >>"$results"
  elif ((rc == 77)); then
    printf '%s\tstatus\tna\n' "$id" >>"$results"
  else
    printf '%s\tstatus\tfailed\n' "$id" >>"$results"
    echo "  $id failed (exit $rc): $(tail -n 2 "$errors" | tr '\n' ' ')" >&2
  fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date +%s)
count=${#ids[@]}
for ((round = 0; round < runs; round++)); do
  echo "== round $((round + 1)) of $runs ($count cases)"
  # Each round starts elsewhere, so no case always follows the same one.
  for ((i = 0; i < count; i++)); do run_case "${ids[$(((i + round * 7) % count))]}"; done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
minutes=$(awk -v s=$(($(date +%s) - started)) 'BEGIN { printf "%.1f", s / 60 }')

median() {
  awk -F'\t' -v id="$1" -v metric="$2" '$1 == id && $2 == metric { print $3 }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# A figure and its ratio to the reference figure: "value | ×ratio".
cell() {
  local id=$1 metric=$2 reference=$3 value
  value=$(median "$id" "$metric")
  if [ -z "$value" ]; then
    if awk -F'\t' -v id="$id" '$1 == id && $3 == "failed" { found = 1 } END { exit !found }' "$results"; then
      echo "failed | –"
    else
      echo "n/a (not built) | –"
    fi
    return
  fi
  awk -v v="$value" -v r="$reference" 'BEGIN {
    f = v >= 100 ? "%.0f" : "%.1f"
    printf f " | ", v
    # Small ratios keep two significant digits.
    q = r > 0 ? v / r : -1
    if (q < 0) printf "–"; else printf (q >= 0.1 ? "×%.2f" : q >= 0.01 ? "×%.3f" : "×%.4f"), q
  }'
}

plain() {
  local value
  value=$(median "$1" "$2")
  if [ -z "$value" ]; then echo "–"; else printf '%.0f' "$value"; fi
}

bare1=$(median bare_sync1 ns_per_line)
bare2=$(median bare_sync2 ns_per_line)
bare_procs=$(median bare_procs ns_per_line)
bare_rate=$(awk -v ns="$bare1" 'BEGIN { if (ns > 0) printf "%.0f", 1e9 / ns }')
fs=$(findmnt -n -o FSTYPE --target "$ZUNLOGX_BENCH_DIR" 2>/dev/null || stat -f -c %T "$ZUNLOGX_BENCH_DIR")
version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo "not installed"; }

# One row of the targets: "| what | measured | target | met or missed |".
# `op` is le (at most) or ge (at least); `scale` multiplies the limit (for
# limits that are ratios to a reference figure).
target() {
  local what=$1 value=$2 op=$3 limit=$4 unit=$5
  if [ -z "$value" ]; then
    echo "| $what | – | $op $limit$unit | not measured |"
    return
  fi
  awk -v w="$what" -v v="$value" -v op="$op" -v l="$limit" -v u="$unit" 'BEGIN {
    met = op == "at most" ? v <= l : v >= l
    printf "| %s | " (v >= 100 ? "%.0f" : "%.2f") "%s | %s %s%s | %s |\n", w, v, u, op, l, u, met ? "met" : "missed"
  }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.3f", a / b }'; }

report() {
  cat <<EOF
# Performance

How zunlogx compares with spdlog, log4cplus and log4cxx writing the same line,
measured by \`scripts/bench.sh\`. Every figure is the median of $runs runs; the
cases ran interleaved, round after round, in one run of $minutes minutes. The
ratio beside a figure divides it by the matching bare \`write(2)\` of the same
bytes to an \`O_APPEND\` file measured in the same run, so it says what a library
adds to the one system call it cannot avoid (1.00: nothing). Lower is better,
except for lines/s.

${ZUNLOGX_BENCH_NOTE:-}

The line, in every program (the standard message line, CR LF at the end):

\`[Zun.Agent.Session] WARN 2025-01-01 12:00:00,000 host PID:4242 THID:4243 ID:server/session.cpp:418.7021.55102.3 MSG:session 17 of operator closed after 2500 ms\`

Each program reads its files back and fails the case when a line is missing
(a size-rolled log may only have removed its oldest lines), cut or written
twice; the process case counts them instead. "n/a (not built)" marks a case
this build cannot run: its program was not built, or the part of zunlogx it
needs is not there yet.

## Machine

| | |
|---|---|
| date | $(date -u '+%Y-%m-%d %H:%M UTC') |
| commit | $(git rev-parse --short HEAD 2>/dev/null || echo unknown) |
| cores (nproc) | $(nproc) |
| CPU | $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//') |
| kernel | $(uname -r) |
| file system of the logs | $fs ($ZUNLOGX_BENCH_DIR) |
| compiler | $(c++ --version | head -n 1) |
| load average before / after | $load_before / $load_after |
| spdlog, log4cplus, log4cxx | $(version libspdlog-dev), $(version liblog4cplus-dev), $(version liblog4cxx-dev) |

## Targets

What zunlogx aims at, against the figures of this run (ratios to the bare
write of the same run).

| target | measured | aim | |
|---|---|---|---|
$(target "sync call, 1 thread, ratio" "$(ratio "$(median zunlogx_sync1 ns_per_line)" "$bare1")" "at most" 1.15 "")
$(target "sync call, 2 threads, ratio" "$(ratio "$(median zunlogx_sync2 ns_per_line)" "$bare2")" "at most" 1.15 "")
$(target "size-rolled log, ratio" "$(ratio "$(median zunlogx_rolled ns_per_line)" "$bare1")" "at most" 1.2 "")
$(target "async producer p50, 1 producer" "$(median zunlogx_latency1 p50_ns)" "at most" 150 " ns")
$(target "async producer p99, 1 producer" "$(median zunlogx_latency1 p99_ns)" "at most" 2000 " ns")
$(target "async drain" "$(median zunlogx_drain lines_per_s)" "at least" 2000000 " lines/s")
$(target "4 processes, one size-rolled log" "$(median zunlogx_procs ns_per_line)" "at most" 4000 " ns/line")
$(target "4 processes, lines lost" "$(median zunlogx_procs lost)" "at most" 0 "")
$(target "4 processes, split pieces" "$(median zunlogx_procs split)" "at most" 0 "")
$(target "IsEnabled" "$(median zunlogx_filtered enabled_ns)" "at most" 5 " ns")
$(target "filtered log call" "$(median zunlogx_filtered call_ns)" "at most" 20 " ns")
$(target "queued memory per record, ratio to its line" "$(ratio "$(median zunlogx_memory bytes_per_record)" "$(median zunlogx_memory line_bytes)")" "at most" 2 "")

## Synchronous, one file

$sync_lines lines per thread; ns per line is the wall time over all lines.
"Each line" settings hand every line to the OS as it is logged; the buffered
rows are the peers' buffered modes, for reference (lines reach the file in
blocks, and a crash loses the block).

| library and setting | 1 thread, ns/line | ratio | 2 threads, ns/line | ratio |
|---|---|---|---|---|
| bare write(2) | $(cell bare_sync1 ns_per_line "$bare1") | $(cell bare_sync2 ns_per_line "$bare2") |
| zunlogx (one write per line) | $(cell zunlogx_sync1 ns_per_line "$bare1") | $(cell zunlogx_sync2 ns_per_line "$bare2") |
| spdlog, flush_on(trace) | $(cell spdlog_sync1 ns_per_line "$bare1") | $(cell spdlog_sync2 ns_per_line "$bare2") |
| log4cplus, ImmediateFlush=true | $(cell log4cplus_sync1 ns_per_line "$bare1") | $(cell log4cplus_sync2 ns_per_line "$bare2") |
| log4cxx, ImmediateFlush=true | $(cell log4cxx_sync1 ns_per_line "$bare1") | $(cell log4cxx_sync2 ns_per_line "$bare2") |
| spdlog, buffered (its default) | $(cell spdlog_buffered1 ns_per_line "$bare1") | $(cell spdlog_buffered2 ns_per_line "$bare2") |
| log4cplus, ImmediateFlush=false | $(cell log4cplus_buffered1 ns_per_line "$bare1") | $(cell log4cplus_buffered2 ns_per_line "$bare2") |
| log4cxx, BufferedIO=true | $(cell log4cxx_buffered1 ns_per_line "$bare1") | $(cell log4cxx_buffered2 ns_per_line "$bare2") |

## Synchronous, size-rolled log (1 MiB x 10 backups)

$sync_lines lines, 1 thread, every line handed to the OS as it is logged.

| library | ns/line | ratio |
|---|---|---|
| zunlogx, RollingFile | $(cell zunlogx_rolled ns_per_line "$bare1") |
| spdlog, rotating_file_sink_mt | $(cell spdlog_rolled ns_per_line "$bare1") |
| log4cplus, RollingFileAppender | $(cell log4cplus_rolled ns_per_line "$bare1") |
| log4cxx, RollingFileAppender (fixed window) | $(cell log4cxx_rolled ns_per_line "$bare1") |

## Asynchronous

Producer latency: the time one log call takes on the producing thread,
$latency_lines calls per producer, with the worker writing the file and
handing each line to the OS as it goes (spdlog: flush_on(trace)). Queues at
their defaults: zunlogx MaxQueueSize 32 MiB, spdlog 8192 messages (blocking
when full), log4cplus AsyncAppender QueueLimit 100, log4cxx AsyncAppender
BufferSize 128 (blocking). The bare rows time write(2) itself.

| library | producers | p50 ns | ratio | p99 ns | ratio | p99.9 ns | ratio |
|---|---|---|---|---|---|---|---|
$(for p in 1 4; do
  for lib in bare zunlogx spdlog log4cplus log4cxx; do
    name=$lib
    [ "$lib" = bare ] && name="bare write(2)"
    echo "| $name | $p | $(cell "${lib}_latency$p" p50_ns "$(median "bare_latency$p" p50_ns)") | $(cell "${lib}_latency$p" p99_ns "$(median "bare_latency$p" p99_ns)") | $(cell "${lib}_latency$p" p999_ns "$(median "bare_latency$p" p999_ns)") |"
  done
done)

Drain rate: one producer logs $drain_lines lines as fast as it can; lines per
second from its first call until the worker has written the last line. The
ratio divides by the bare write's rate (1 thread above), so 1.00 would be as
fast as the system call alone.

| library | lines/s | ratio |
|---|---|---|
$(for lib in zunlogx spdlog log4cplus log4cxx; do echo "| $lib | $(cell "${lib}_drain" lines_per_s "$bare_rate") |"; done)

## 4 processes x $process_lines lines into one size-rolled log

1 MiB files with 200 backups (so that nothing is removed and every line can be
looked for). Cost per line is the wall time over all $((4 * process_lines))
lines. Lost: lines not found whole in any file; split: pieces of lines found
between two line ends. The bare row writes one plain file.

| library and setting | ns/line | ratio | lines lost | split pieces |
|---|---|---|---|---|
| bare write(2), one plain file | $(cell bare_procs ns_per_line "$bare_procs") | $(plain bare_procs lost) | $(plain bare_procs split) |
| zunlogx, RollingFile (lock file) | $(cell zunlogx_procs ns_per_line "$bare_procs") | $(plain zunlogx_procs lost) | $(plain zunlogx_procs split) |
| log4cplus, RollingFileAppender, UseLockFile=true | $(cell log4cplus_procs ns_per_line "$bare_procs") | $(plain log4cplus_procs lost) | $(plain log4cplus_procs split) |
| spdlog, rotating_file_sink_mt, defaults | $(cell spdlog_procs ns_per_line "$bare_procs") | $(plain spdlog_procs lost) | $(plain spdlog_procs split) |

## Below the threshold

The logger's threshold is INFO; $filtered_calls DEBUG calls. "IsEnabled" asks
first (zunlogx: the dispatch table's IsEnabled; spdlog should_log; log4cplus
isEnabledFor; log4cxx isDebugEnabled). "Filtered call" is the whole log call
with its arguments: zunlogx loggers leave the threshold to the host, and a
call whose severity no appender takes ends before its record is built (it
still takes its arguments from the list); the peers test the level before
formatting. Ratios divide by the bare write (1 thread).

| library | IsEnabled ns | ratio | filtered call ns | ratio |
|---|---|---|---|---|
$(for lib in zunlogx spdlog log4cplus log4cxx; do echo "| $lib | $(cell "${lib}_filtered" enabled_ns "$bare1") | $(cell "${lib}_filtered" call_ns "$bare1") |"; done)

## Memory with $queued_records records queued

Peak resident size while $queued_records records wait behind a stalled writer
(zunlogx: its appender held; the peers: the log file is a pipe nobody reads),
less the resident size before the logger was set up, per record. Queues are
sized to hold them all. The ratio divides by the line's length in bytes.

| library | bytes/record | ratio to the line |
|---|---|---|
$(for lib in zunlogx spdlog log4cplus log4cxx; do echo "| $lib | $(cell "${lib}_memory" bytes_per_record "$(median "${lib}_memory" line_bytes)") |"; done)

## How to rerun

On Debian 12, as root or with sudo: \`bash scripts/bench.sh\`. It installs
what the build needs and the Debian packages of the other libraries
(\`libspdlog-dev\`, \`liblog4cplus-dev\`, \`liblog4cxx-dev\`), builds the
comparison programs in Release under \`build/comparison\`, runs every case
\`ZUNLOGX_BENCH_RUNS\` times (5), round after round, and rewrites this page.
The runs took $minutes minutes here, the build comes on top. The logs go
to \`ZUNLOGX_BENCH_DIR\` (\`\$TMPDIR\` or \`/tmp\`); \`ZUNLOGX_BENCH_NOTE\` adds a
sentence about the conditions. An idle machine gives steadier figures.

| column | meaning |
|---|---|
| ns/line | wall time of the case over its lines |
| ratio | the figure over the bare \`write(2)\` figure of the same kind in the same run |
| p50, p99, p99.9 ns | percentiles of the time one log call takes on the producing thread |
| lines/s | lines written per second, from the first call until the last line is in the file |
| lines lost, split pieces | lines not found whole in any file; pieces of lines between two line ends |
| IsEnabled ns, filtered call ns | the threshold test alone; a whole log call whose record is dropped |
| bytes/record | resident memory per queued record |
EOF
}

mkdir -p "$(dirname "$out")"
report | tee "$out"
echo "written to $out"
