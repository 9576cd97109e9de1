#!/usr/bin/env bash
# Every benchmark, natively and under Wine, and one table of the figures
# against their targets:
#
#   tools/bench.sh            (what `make bench` runs)
#
# Installs what is missing (tools/setup.sh), builds the native benchmarks
# (preset `bench`, optimised, no sanitizers) and the Windows ones (the
# `windows` tree, configured with -DMONITOR_BENCHMARKS=ON), runs them, keeps
# their whole output in build/bench/results/, and prints the table. The
# Windows programs run under Wine with the tree's own prefix, one Xvfb and one
# persistent wineserver of our own. The table's ratio is the figure divided by
# the target; "met" says whether the figure is on the right side of its
# target.
#
# Environment: BENCH_GROWTH_ALERTS (default 10000), BENCH_ALERT_SAMPLES
# (default 100) and BENCH_FIRST_ROUNDS (default 10) shorten or lengthen the
# longest runs.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=tools/setup.sh
. tools/setup.sh
ensure_packages || exit 1
ensure_locales || exit 1

results=$root/build/bench/results
mkdir -p "$results"
rm -f "$results"/*.txt
status=0

echo "=== [bench] native build"
if ! { cmake --preset bench >"$results/configure-native.log" 2>&1 &&
       cmake --build --preset bench -j2 --target channel_bench latency_bench framework_bench; }; then
  cat "$results/configure-native.log"
  echo "=== [bench] native build FAILED"
  exit 1
fi
echo "=== [bench] windows build"
if ! { cmake --preset windows -DMONITOR_BENCHMARKS=ON >"$results/configure-windows.log" 2>&1 &&
       cmake --build --preset windows -j2 --target qmxMeadowMonitor monitor_bench bench_hello \
         bench_hello_gui bench_dialog channel_bench latency_bench e2e_bench port_monitor_sim; }; then
  cat "$results/configure-windows.log"
  echo "=== [bench] windows build FAILED"
  exit 1
fi

# Runs one benchmark, keeping its output in results/NAME.txt.
run() {
  local name=$1
  shift
  echo "=== [bench] $name"
  if ! "$@" >"$results/$name.txt" 2>&1; then
    echo "=== [bench] $name FAILED"
    cat "$results/$name.txt"
    status=1
    return 1
  fi
  grep -v '^BENCH ' "$results/$name.txt"
}

# The machine's load while the benchmarks run: on a shared machine the
# latency tails follow it.
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
run native-latency build/bench/channel/latency_bench 1000
run native-throughput build/bench/channel/channel_bench 300000
run native-broker build/bench/framework/framework_bench --benchmark_filter='BM_PostAndDeliver/1/'

begin_wine_session "$root/build/windows" || exit 1
# Wine's own services go on starting for a moment after the first program of
# a session; they are not what is measured.
sleep 5

win=build/windows
run wine-latency wine $win/channel/latency_bench.exe 1000
run wine-throughput wine $win/channel/channel_bench.exe 50000
run wine-alert wine $win/tools/bench/monitor_bench.exe alert "${BENCH_ALERT_SAMPLES:-100}"
run wine-first wine $win/tools/bench/monitor_bench.exe first "${BENCH_FIRST_ROUNDS:-10}"
run wine-idle wine $win/tools/bench/monitor_bench.exe idle 10
run wine-startup wine $win/tools/bench/monitor_bench.exe startup 10
run wine-growth wine $win/tools/bench/monitor_bench.exe growth "${BENCH_GROWTH_ALERTS:-10000}"
# The whole reliability runs of the real program: the job cut at every byte
# offset, the soak, the end of the job amid a flood (tools/reliability-bench.sh
# runs them alone).
run wine-reliability wine $win/e2e/tests/e2e_bench.exe all

# ---- the IPP status bridge (bridge/bench/bridge_bench.cpp) ----------------
# The bridge at a 1 s poll against the fake printer of printer_peer.py: a
# change on the printer until the screen shows it, and the bridge's CPU
# between changes.
if cmake --build --preset windows -j2 --target bridge_bench >"$results/build-bridge.log" 2>&1; then
  run wine-bridge python3 bridge/tests/printer_peer.py -- wine $win/bridge/bridge_bench.exe 20 20
else
  cat "$results/build-bridge.log"
  echo "=== [bench] bridge_bench build FAILED"
  status=1
fi
# ---- end of the IPP status bridge's part -----------------------------------

wine_version=$(wine --version 2>/dev/null)
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
end_wine_session

echo
echo "=== [bench] results ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $wine_version;"
echo "    load average $load_before at the start, $load_after at the end)"
python3 - "$results" <<'EOF'
import re, sys, pathlib

results = pathlib.Path(sys.argv[1])
figures = {}
for path in results.glob("*.txt"):
    prefix = path.stem.split("-")[0]
    for line in path.read_text(errors="replace").splitlines():
        match = re.match(r"BENCH (\S+) (\S+)$", line)
        if match:
            figures[f"{prefix}.{match.group(1)}"] = float(match.group(2))
    # Google Benchmark's own line for the broker alone.
    for line in path.read_text(errors="replace").splitlines():
        match = re.search(r"BM_PostAndDeliver/1/real_time .* items_per_second=([\d.]+)([kMG]?)/s", line)
        if match:
            scale = {"": 1, "k": 1e3, "M": 1e6, "G": 1e9}[match.group(2)]
            figures["native.broker_messages_per_s"] = float(match.group(1)) * scale

# The reliability runs print counts, not BENCH lines.
reliability = results / "wine-reliability.txt"
if reliability.exists():
    text = reliability.read_text(errors="replace")
    for kind, total_key, clean_key in (("cuts", "cuts", "cut_clean_exits"),
                                       ("teardowns", "teardowns", "teardown_clean_exits")):
        match = re.search(r"(\d+) %s, (\d+) clean exits" % kind, text)
        if match:
            figures["wine." + total_key] = float(match.group(1))
            figures["wine." + clean_key] = float(match.group(2))

def number(value, unit):
    if unit == "records/s" or unit == "messages/s":
        return f"{value:,.0f} {unit}"
    if unit == "KiB":
        return f"{value:+,.0f} KiB"
    if unit == "objects":
        return f"{value:+.0f}"
    if unit == "%":
        return f"{value:.4f} %"
    if unit == "x":
        return f"{value:.2f} x"
    if unit == "runs":
        return f"{value:.0f}"
    if unit == "/s":
        return f"{value:.2f} /s"
    return f"{value:.3f} {unit}"

# (measure, key, unit, target text, bound, direction, divisor for the ratio)
rows = [
    ("record -> listener p99, native", "native.latency_p99_ms", "ms", "<= 2 ms", 2, "<=", 2),
    ("record -> listener p99, Wine", "wine.latency_p99_ms", "ms", "<= 2 ms", 2, "<=", 2),
    ("first alert of a job painted p50 (10 fresh monitors), Wine", "wine.first_painted_p50_ms", "ms", "<= 70 ms", 70, "<=", 70),
    ("first alert of a job painted p90, Wine", "wine.first_painted_p90_ms", "ms", "<= 100 ms", 100, "<=", 100),
    ("first bare dialog painted p50 (fresh process), Wine", "wine.first_bare_painted_p50_ms", "ms", "-", None, None, None),
    ("record -> alert painted p50, Wine", "wine.alert_painted_p50_ms", "ms", "-", None, None, None),
    ("record -> alert painted p95, Wine", "wine.alert_painted_p95_ms", "ms", "<= 30 ms", 30, "<=", 30),
    ("event -> bare dialog painted p50 (floor), Wine", "wine.bare_painted_p50_ms", "ms", "-", None, None, None),
    ("event -> bare dialog painted p95 (floor), Wine", "wine.bare_painted_p95_ms", "ms", "-", None, None, None),
    ("alert / bare dialog painted, p50", "wine.alert_to_bare_p50", "x", "-", None, None, None),
    ("alert / bare dialog painted, p95", "wine.alert_to_bare_p95", "x", "-", None, None, None),
    ("idle: main-thread wake-ups, Wine", "wine.idle_wakeups_per_s", "/s", "<= 1 /s", 1, "<=", 1),
    ("idle: CPU of one core, Wine", "wine.idle_cpu_percent", "%", "<= 0.1 %", 0.1, "<=", 0.1),
    ("start -> status stream opened / GUI hello world, Wine", "wine.startup_ratio", "x", "<= 1.5", 1.5, "<=", 1.5),
    ("start -> status stream opened / kernel32 hello world", "wine.startup_ratio_kernel32", "x", "-", None, None, None),
    ("growth: private bytes, Wine", "wine.growth_private_kib", "KiB", "<= 1024 KiB", 1024, "<=", 1024),
    ("growth: GDI objects, Wine", "wine.growth_gdi_objects", "objects", "<= 5", 5, "<=", 5),
    ("growth: USER objects, Wine", "wine.growth_user_objects", "objects", "<= 5", 5, "<=", 5),
    ("growth after the first tenth: private", "wine.growth_warm_private_kib", "KiB", "-", None, None, None),
    ("growth after the first tenth: GDI", "wine.growth_warm_gdi_objects", "objects", "-", None, None, None),
    ("throughput, native", "native.throughput_records_per_s", "records/s", ">= 1,000,000/s", 1e6, ">=", 1e6),
    ("throughput / the same 64 KiB reads split, native", "native.throughput_ratio_to_read_ahead", "x", "-", None, None, None),
    ("throughput, Wine", "wine.throughput_records_per_s", "records/s", "-", None, None, None),
    ("throughput / the same 64 KiB reads split, Wine", "wine.throughput_ratio_to_read_ahead", "x", "-", None, None, None),
    ("broker alone, native (1 producer)", "native.broker_messages_per_s", "messages/s", "-", None, None, None),
]
# ---- the IPP status bridge's rows ----
rows += [
    ("printer change -> screen p50, 1 s poll, Wine", "wine.bridge_change_p50_ms", "ms", "-", None, None, None),
    ("printer change -> screen p95, 1 s poll, Wine", "wine.bridge_change_p95_ms", "ms", "<= 1000 + 100 ms", 1100, "<=", 1100),
    ("bridge between changes: CPU of one core, Wine", "wine.bridge_idle_cpu_percent", "%", "<= 0.5 %", 0.5, "<=", 0.5),
]
# ---- end of the IPP status bridge's rows ----
for measure, total, clean in (("job cut at every byte offset: clean exits, Wine", "wine.cuts", "wine.cut_clean_exits"),
                              ("end of job amid a flood: clean exits, Wine", "wine.teardowns", "wine.teardown_clean_exits")):
    if total in figures and clean in figures:
        figures[measure] = figures[clean]
        rows.append((measure, measure, "runs", f"all {figures[total]:.0f}", figures[total], ">=", figures[total]))
    else:
        rows.append((measure, clean, "runs", "all", 1, ">=", None))
table = [("measure", "figure", "target", "ratio", "met")]
for measure, key, unit, target, bound, direction, divisor in rows:
    if key not in figures:
        table.append((measure, "missing", target, "", "no" if bound is not None else ""))
        continue
    value = figures[key]
    ratio = f"{value / divisor:.3f}" if divisor else ""
    met = ""
    if bound is not None:
        met = "yes" if (value <= bound if direction == "<=" else value >= bound) else "no"
    table.append((measure, number(value, unit), target, ratio, met))
widths = [max(len(row[i]) for row in table) for i in range(5)]
for index, row in enumerate(table):
    print("| " + " | ".join(cell.ljust(widths[i]) for i, cell in enumerate(row)) + " |")
    if index == 0:
        print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
EOF
exit $status
