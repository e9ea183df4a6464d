#!/usr/bin/env bash
# What a day of runs writes to the real Zabbix server's history (6.0 on Debian 12, 7.0 on
# Debian 13), with the template as it was when every value was stored (commit 21329c5) and with
# the current one, which stores a customer's value when it changes and otherwise once per
# heartbeat. The ERP changes between runs as a provider's does (ixc-demo-data --state: payments
# through the day, the day's bills falling due at midnight).
#
#   bench/day_history.sh [SIZE]            default 100000 customers who owe at state 0
#
# Time is shrunk: a run every INTERVAL seconds stands for a run every 5 minutes, and the
# heartbeats (30 min for the amount, 6 h for the titles) and the nodata periods (1 h) are
# shrunk with it, so that a heartbeat spans the same number of runs as at the real scale. Each
# template gets a fresh server: run A (state FIRST) makes the discovery, run B (the same state)
# gives every item its first value, then RUNS measured runs at states FIRST+1, FIRST+2 ... Each
# measured run, the ERP's receivables are replaced by the next state's before the run starts.
# Printed, per template: the values written to history and history_uint per run (by the clock
# the server stamped them with, from one run's start to the next's), the database bytes per
# row (data + indexes of the two tables over their rows), the day at 288 runs projected from
# the mean run, the busiest history syncer (the server's own one-minute busy %, sampled every
# 5 s) and the discovery pass: the LLD worker's busy time per rule from its own reports in its
# process title, its CPU time per run and its largest resident memory (from /proc, sampled
# every 0.2 s).
#
# IXC_DAY_RUNS       measured runs (default 12; 72 or more reach the titles' 6-hour heartbeat)
# IXC_DAY_INTERVAL   seconds between run starts (default 60 at 50 000 customers and up, 15 at
#                    10 000 and up, else 5); a run that takes longer delays the next
# IXC_DAY_FIRST      the state of runs A and B (default 0: 23:55, so that the first measured
#                    run is midnight's; 120 is 09:55)
# IXC_DAY_DATA       realistic (default) or clean: ixc-demo-data's texts
# IXC_DAY_TEMPLATES  which to measure, in order (default "before current")
# IXC_DAY_KEEP       a folder to keep the raw figures in (each run's start, rows per second,
#                    the LLD samples), which `bench/day_history.sh --table FOLDER` prints again
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
IXC_ROOT=$root
IXC_BIN=${IXC_BIN:-$root/build/bin}
export PATH=$PATH:/usr/sbin:/sbin
# shellcheck source=servers.sh
source "$root/bench/servers.sh"
# shellcheck source=zabbix_server.sh
source "$root/bench/zabbix_server.sh"
size=${1:-100000}
table_only=
if [ "$size" = --table ]; then table_only=$2; size=0; fi
runs=${IXC_DAY_RUNS:-12}
if [ "$size" -ge 50000 ]; then interval=60; elif [ "$size" -ge 10000 ]; then interval=15; else interval=5; fi
interval=${IXC_DAY_INTERVAL:-$interval}
first=${IXC_DAY_FIRST:-0}
data=${IXC_DAY_DATA:-realistic}
# shellcheck disable=SC2206  # a blank-separated list
templates=(${IXC_DAY_TEMPLATES:-before current})
case $data in realistic) data_flag=(--realistic) ;; clean) data_flag=() ;;
  *) echo "day_history: IXC_DAY_DATA is realistic or clean" >&2; exit 2 ;; esac
questdb=${IXC_DAY_QUESTDB_ADDRESS:-127.0.0.93}
database=ixc_dia
host=bench-dia
# The shrunk periods: a heartbeat spans as many runs as at a 5-minute schedule.
heartbeat=$((6 * interval))s
titles_heartbeat=$((72 * interval))s
nodata=$((12 * interval < 30 ? 30 : 12 * interval))s

# The table: per template, from the runs' start times, the rows by clock and the LLD samples.
print_table() {
  # shellcheck disable=SC2046  # the settings are one argument each
  python3 - "$1" $(cat "$1/settings") "$(cat "$1/extra")" <<'PY'
import statistics, sys
work, size, interval, runs, first, data, cores, names, extra = sys.argv[1:]
names = names.replace(",", " ")
version = open(f"{work}/version").read().strip()
size, interval, runs, first = int(size), float(interval), int(runs), int(first)
extra = {l.split()[0]: l.split()[1:] for l in extra.splitlines() if l.strip()}
def clock_of(state):
    minute = 24 * 60 - 5 + 5 * state
    return f"{minute // 60 % 24:02d}:{minute % 60:02d}"
cols = {}
for name in names.split():
    runs_ = [l.split() for l in open(f"{work}/runs.{name}")]
    starts = [float(r[2]) for r in runs_]
    rows = [tuple(map(int, l.split())) for l in open(f"{work}/rows.{name}") if l.strip()]
    written = []
    for k in range(len(runs_) - 1):
        written.append(sum(n for c, n in rows if int(starts[k]) <= c < int(starts[k + 1])))
    first_values, measured = written[0], written[1:]
    listed = [int(r[3]) for r in runs_[1:-1]]
    samples = [tuple(map(float, l.split())) for l in open(f"{work}/lld.{name}")]
    lld = [t[:3] for t in samples if len(t) >= 3]
    # The worker's own reports, each once: its busy time (during - idle) over the rules processed.
    reports = sorted({t[3:6] for t in samples if len(t) == 6})
    rules = sum(r[0] for r in reports)
    pass_s = sum(r[2] - r[1] for r in reports) / rules if rules else float("nan")
    cpu = (lld[-1][1] - lld[0][1]) / 100 / (len(runs_) - 1) if lld else 0
    bytes_per_row, syncer, lld_busy, complaints, items = extra[name]
    customers = statistics.mean(listed)
    # The day is projected from whole heartbeat periods: the measured runs up to the last that
    # stored most amounts again (all of them, when every run stores every value).
    waves = [k for k, n in enumerate(measured) if n > 0.5 * listed[k]]
    period = measured if len(waves) == len(measured) or not waves else measured[: waves[-1] + 1]
    mean = statistics.mean(period)
    day_rows = 288 * mean
    # The titles' 6-hour heartbeat stores each once in 72 runs: beyond a shorter window, it is
    # added as 4 a day per customer.
    titles_added = len(waves) < len(measured) and runs < 72
    if titles_added:
        day_rows += 4 * customers
    spacing = statistics.mean(b - a for a, b in zip(starts[1:-2], starts[2:-1])) if runs > 1 else 0
    cols[name] = {
        "items discovered by run A": items.replace("_", " "),
        "values sent per run (2N + 7, mean)": f"{2 * customers + 7:.0f}",
        "run B (every item's first value): rows": f"{first_values}",
        "seconds between run starts, mean": f"{spacing:.1f}",
        "rows written per measured run, mean": f"{statistics.mean(measured):.0f}",
        "  smallest / largest": f"{min(measured)} / {max(measured)}",
        "  over whole heartbeat periods (runs), mean": f"{mean:.0f} ({len(period)})",
        "  per customer listed": f"{mean / customers:.3f}",
        "database bytes per row (data + indexes)": bytes_per_row,
        "a day (288 runs): rows": f"{day_rows:.0f}" + (" *" if titles_added else ""),
        "  bytes per customer per day": f"{day_rows * float(bytes_per_row) / customers:.0f}",
        "busiest history syncer (%)": syncer,
        "LLD pass, mean (s, the worker's title)": f"{pass_s:.1f}" if rules else "-",
        "  LLD worker CPU per run, mean (s)": f"{cpu:.1f}",
        "  LLD worker busiest (%)": lld_busy,
        "  LLD worker peak resident memory (MB)": f"{max((s[2] for s in lld), default=0) / 1024:.0f}",
        "'please increase' lines in the log": complaints,
    }
    cols[name]["_mean"] = day_rows
names = names.split()
if "before" in cols and "current" in cols:
    cols["current"]["a day's rows: current / before"] = f"{cols['current']['_mean'] / cols['before']['_mean']:.3f}"
    cols["before"]["a day's rows: current / before"] = "1"
print()
print(f"ixc-atraso's history over a simulated day, {version}, {cores} cores")
print(f"ERP: ixc-demo-data --customers {size} --seed 2024 {'--realistic ' if data == 'realistic' else ''}"
      f"--state K ({data} data), K = {first} ({clock_of(first)}) for runs A and B, then"
      f" {first + 1} to {first + runs} ({clock_of(first + 1)} to {clock_of(first + runs)})")
print(f"a run every {interval:g} s stands for a run every 5 min ({300 / interval:g} times faster);"
      f" heartbeats {6 * interval:g} s (30 min) and {72 * interval:g} s (6 h), nodata {max(30, 12 * interval):g} s (1 h)")
print("rows = history + history_uint, the host's items; a day = 288 runs of the mean run over whole")
print("heartbeat periods (* plus 4 titles per customer, their 6-hour heartbeat being beyond the window)")
print()
print(f"{'':44s}" + "".join(f"{n:>16s}" for n in names))
for key in [k for k in cols[names[0]] if not k.startswith("_")]:
    print(f"{key:44s}" + "".join(f"{cols[n].get(key, '-'):>16s}" for n in names))
PY
}
if [ -n "$table_only" ]; then
  print_table "$table_only"
  exit 0
fi

work=$(mktemp -d /tmp/ixc-day-history.XXXXXX)
cleanup() {
  [ -z "${IXC_ZBX_PID:-}" ] || ixc_stop_zabbix
  ixc_stop_all
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

mkdir "$work/mariadb"
ixc_start_mariadb "$work/mariadb" 1G
ixc_start_questdb "$questdb" "$work/questdb.log" 9000 9009
now() { date +%s.%N; }
j() { python3 -c "import json, sys; r = json.load(sys.stdin); print($1)"; }

# The ERP at STATE: everything the first time, then only the receivables (the customers are the
# same in every state).
load_state() {
  local state=$1 out=$work/state
  rm -rf "$out"
  "$IXC_BIN/ixc-demo-data" --customers "$size" --seed 2024 "${data_flag[@]}" --state "$state" \
    --format tsv --out "$out" 2>/dev/null
  if [ "${2:-}" = all ]; then
    ixc_create_erp "$database"
    ixc_root_sql --local-infile=1 "$database" <"$out/load.sql"
  else
    { sed -n '2,3p' "$out/load.sql"; echo 'TRUNCATE fn_areceber;'
      sed -n '/fn_areceber.tsv/,$p' "$out/load.sql"; } | ixc_root_sql --local-infile=1 "$database"
  fi
  rm -rf "$out"
}
listed() {
  ixc_root_sql -N -B "$database" -e "SELECT COUNT(DISTINCT id_cliente) FROM fn_areceber
    WHERE status = 'A' AND data_vencimento < CURRENT_DATE() AND valor_aberto > 0
      AND id_contrato IS NOT NULL"
}
collect() {  # collect OUTFILE: one collector run against the server
  IXC_TEST_ZABBIX_SERVER="127.0.0.1:$IXC_ZBX_PORT" "$IXC_BIN/ixc-atraso-test" descobertaClientes \
    127.0.0.1 "$IXC_DB_PORT" "$IXC_DB_USER" "$IXC_DB_PASSWORD" "$database" "$questdb" 9009 \
    "$host" >"$1" 2>&1 || true
  grep -qx OK "$1" || { echo "day_history: a run failed:" >&2; tail -5 "$1" >&2; exit 1; }
}
# The LLD worker's CPU ticks, resident memory and its title's last report ("processed 1 LLD
# rules, idle 2.1 sec during 5.0 sec": rules, idle, during), every 0.2 s, until stopped.
sample_lld() {
  local pid title
  while :; do
    read -r pid title < <(ps -o pid=,args= --ppid "$IXC_ZBX_PID" | grep -m1 'lld worker') || true
    if [ -n "$pid" ]; then
      echo "$(now) $(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)" \
        "$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)" \
        "$(sed -n 's/.*processed \([0-9]*\) LLD rules, idle \([0-9.]*\) *sec during \([0-9.]*\) sec.*/\1 \2 \3/p' <<<"$title")"
    fi
    sleep 0.2
  done
}

before_template=$work/template-21329c5.yaml
git -C "$root" show 21329c5:deploy/zabbix/ixc_atraso_template.yaml >"$before_template"

measure_template() {
  local name=$1 template=$work/$1.yaml r
  echo "== $name template, $size customers ($data data), a run every ${interval}s" >&2
  ixc_root_sql -e "DROP DATABASE IF EXISTS zabbix; DROP USER IF EXISTS 'zabbix'@'%';"
  ixc_start_zabbix "$work/zabbix-$name" CacheSize=512M HistoryCacheSize=64M \
    HistoryIndexCacheSize=32M ValueCacheSize=64M StartLLDProcessors=1
  if [ "$name" = before ]; then
    cp "$before_template" "$template"
  else
    # The titles' heartbeat is written in the item, not in a macro.
    python3 - "$(ixc_zbx_template_file)" \
      "$template" "$titles_heartbeat" <<'PY'
import sys
text = open(sys.argv[1], encoding="utf-8").read()
old = "- type: DISCARD_UNCHANGED_HEARTBEAT\n                  parameters:\n                    - 6h\n"
assert text.count(old) == 1, "the titles' 6h heartbeat is no longer where it was"
open(sys.argv[2], "w", encoding="utf-8").write(text.replace(old, old.replace("6h", sys.argv[3])))
PY
  fi
  local template_id group host_id
  template_id=$(ixc_zbx_import_template "$template")
  group=$(ixc_zbx_api hostgroup.create '{"name": "ixc-dia"}' | j 'r["groupids"][0]')
  host_id=$(ixc_zbx_api host.create "{\"host\": \"$host\", \"groups\": [{\"groupid\": \"$group\"}],
    \"templates\": [{\"templateid\": \"$template_id\"}],
    \"macros\": [{\"macro\": \"{\$IXC.ATRASO.CLIENTE.HEARTBEAT}\", \"value\": \"$heartbeat\"},
                 {\"macro\": \"{\$IXC.ATRASO.CLIENTE.NODATA}\", \"value\": \"$nodata\"},
                 {\"macro\": \"{\$IXC.ATRASO.NODATA}\", \"value\": \"$nodata\"}]}" | j 'r["hostids"][0]')
  local key
  for key in "zabbix[process,history syncer,avg,busy]" "zabbix[process,lld worker,avg,busy]"; do
    ixc_zbx_api item.create "{\"hostid\": \"$host_id\", \"name\": \"$key\", \"key_\": \"$key\",
      \"type\": 5, \"value_type\": 0, \"delay\": \"5s\"}" >/dev/null
  done
  # The server takes values once its configuration holds the host.
  for ((r = 0; r < 300; r++)); do
    zabbix_sender -z 127.0.0.1 -p "$IXC_ZBX_PORT" -s "$host" -k somaClientesAtrasoAtivo -o 0 2>&1 |
      grep -q 'processed: 1' && break
    sleep 1
  done

  load_state "$first" all
  local at_first
  at_first=$(listed)
  collect "$work/runA.out"
  # Until the discovery made every item, or made no more in a minute (a customer whose item
  # the server refused is counted in the table).
  local started=$SECONDS made=0 before=-1 still=$SECONDS
  while :; do
    made=$(ixc_zbx_sql "SELECT COUNT(*) FROM items WHERE hostid = $host_id AND flags = 4")
    [ "$made" -lt $((2 * at_first)) ] || break
    [ "$made" = "$before" ] || { before=$made; still=$SECONDS; }
    [ "$made" = 0 ] || [ $((SECONDS - still)) -lt 60 ] || break
    [ $((SECONDS - started)) -lt 1800 ] || { echo "day_history: the discovery never made its items" >&2; exit 1; }
    sleep 2
  done
  result[items,$name]="$made of $((2 * at_first))"
  ixc_zbx_quiet 900
  ixc_zbx_after_sync
  ixc_zbx_after_sync

  sample_lld >"$work/lld.$name" &
  local sampler=$!
  ixc_remember "$sampler"
  : >"$work/runs.$name"
  local begin next
  begin=$(now)
  echo "B $first $begin $at_first" >>"$work/runs.$name"
  collect "$work/run.out"
  for ((r = 1; r <= runs; r++)); do
    load_state $((first + r))
    next=$(awk -v b="$begin" -v r="$r" -v i="$interval" 'BEGIN { printf "%.3f", b + r * i }')
    while awk -v n="$(now)" -v t="$next" 'BEGIN { exit !(n < t) }'; do sleep 0.1; done
    echo "$r $((first + r)) $(now) $(listed)" >>"$work/runs.$name"
    collect "$work/run.out"
  done
  # The last run's values and discovery land within the interval after it.
  sleep "$interval"
  ixc_zbx_quiet 900
  echo "E - $(now) -" >>"$work/runs.$name"
  ixc_stop "$sampler"

  # Rows per second of server clock, the host's own items only (not the internal ones).
  ixc_zbx_sql "SELECT h.clock, COUNT(*) FROM (SELECT itemid, clock FROM history UNION ALL
      SELECT itemid, clock FROM history_uint) h JOIN items i ON i.itemid = h.itemid
    WHERE i.hostid = $host_id AND i.key_ NOT LIKE 'zabbix[%' AND h.clock >= ${begin%.*}
    GROUP BY h.clock" >"$work/rows.$name"
  ixc_zbx_sql "ANALYZE TABLE history, history_uint" >/dev/null
  result[bytes_per_row,$name]=$(ixc_zbx_sql "SELECT ROUND(SUM(data_length + index_length) /
      ((SELECT COUNT(*) FROM history) + (SELECT COUNT(*) FROM history_uint)))
    FROM information_schema.tables WHERE table_schema = 'zabbix'
      AND table_name IN ('history', 'history_uint')")
  result[syncer,$name]=$(ixc_zbx_sql "SELECT COALESCE(ROUND(MAX(h.value)), '-') FROM history h
    JOIN items i ON i.itemid = h.itemid WHERE i.hostid = $host_id
      AND i.key_ = 'zabbix[process,history syncer,avg,busy]' AND h.clock >= ${begin%.*}")
  result[lld_busy,$name]=$(ixc_zbx_sql "SELECT COALESCE(ROUND(MAX(h.value)), '-') FROM history h
    JOIN items i ON i.itemid = h.itemid WHERE i.hostid = $host_id
      AND i.key_ = 'zabbix[process,lld worker,avg,busy]' AND h.clock >= ${begin%.*}")
  result[complaints,$name]=$(grep -c -e 'please increase' -e 'out of memory' "$IXC_ZBX_LOG" || true)
  echo "$name ${result[bytes_per_row,$name]} ${result[syncer,$name]} ${result[lld_busy,$name]}" \
    "${result[complaints,$name]} ${result[items,$name]// /_}" >>"$work/extra"
  echo "$size $interval $runs $first $data $(nproc) $(IFS=,; echo "${done_templates[*]}")" >"$work/settings"
  zabbix_server -V 2>/dev/null | head -1 >"$work/version"
  if [ -n "${IXC_DAY_KEEP:-}" ]; then
    mkdir -p "$IXC_DAY_KEEP"
    cp "$work"/{settings,version,extra} "$work"/{runs,rows,lld}.* "$IXC_DAY_KEEP"/
  fi
  ixc_stop_zabbix
  IXC_ZBX_PID=
}

declare -A result
done_templates=()
for name in "${templates[@]}"; do
  done_templates+=("$name")
  measure_template "$name"
done
print_table "$work"
