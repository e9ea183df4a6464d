# bench/run --zabbix-server: the collector against a real Zabbix 6.0 server with the shipped
# template, sourced by bench/run after servers.sh and zabbix_server.sh. For each size, on a
# fresh Zabbix database:
# - the template is imported and a host made from it, with internal items that sample the
#   server's caches every 5 s;
# - one run against the trapper stand-in records the frames the collector sends;
# - run 1 against the real server makes the discovery; the time until all 2N discovered items
#   exist in the database is taken from that run's start;
# - run 2 gives every discovered item its first value (the share stored must be 100 %);
# - then, RUNS times each, alternating: a measured collector run (phase clock: the Zabbix phase
#   and within it the discovery document) and ixc-bench-replay sending the recorded frames one
#   connection each, the plainest sender there is, against the same server. Before each the
#   server is let settle (its processes and MariaDB quiet) and the next configuration sync is
#   waited out, so that both start as far from the following one; after each the values that
#   landed in the per-customer items during it are counted, and how long the server took to
#   settle after it (what the per-customer triggers cost shows there and in the busiest history
#   syncer);
# - the frontend is weighed (bench/real_zabbix_frontend.sh).
# IXC_BENCH_ZABBIX_SETTINGS (blank-separated KEY=VALUE) replaces the server settings below;
# IXC_BENCH_TEMPLATE names another template file to import (to weigh a variant of it).

real_zabbix_settings=(${IXC_BENCH_ZABBIX_SETTINGS:-CacheSize=512M HistoryCacheSize=64M HistoryIndexCacheSize=32M ValueCacheSize=64M})
real_template=${IXC_BENCH_TEMPLATE:-}  # empty: the shipped one for the server's version
real_host=bench-provedor
cache_keys=("zabbix[rcache,buffer,used]" "zabbix[wcache,trend,used]" "zabbix[wcache,history,used]"
  "zabbix[wcache,index,used]" "zabbix[vcache,buffer,used]")
busy_keys=("zabbix[process,timer,avg,busy]" "zabbix[process,history syncer,avg,busy]"
  "zabbix[process,lld worker,avg,busy]")

now() { date +%s.%N; }

# Values stored for the host's discovered items with a clock from $1 to $2 (whole seconds).
stored_between() {
  ixc_zbx_sql "SELECT (SELECT COUNT(*) FROM history h JOIN items i ON i.itemid = h.itemid
      WHERE i.hostid = $real_host_id AND i.flags = 4 AND h.clock BETWEEN ${1%.*} AND ${2%.*})
    + (SELECT COUNT(*) FROM history_uint h JOIN items i ON i.itemid = h.itemid
      WHERE i.hostid = $real_host_id AND i.flags = 4 AND h.clock BETWEEN ${1%.*} AND ${2%.*})"
}

# The most a process type was busy (%, the server's own one-minute figure sampled every 5 s)
# from $2 to $3 (epoch seconds), the minute after included. A window of a fraction of a second
# (a small size, a server just started) may hold no sample yet, so it waits up to 30 s for the
# first one taken after the window's end.
busy_max_between() {
  local waited=0
  until [ "$waited" -ge 30 ] || [ "$(ixc_zbx_sql "SELECT COUNT(*) FROM history h
      JOIN items i ON i.itemid = h.itemid WHERE i.hostid = $real_host_id
      AND i.key_ = 'zabbix[process,$1,avg,busy]' AND h.clock >= ${3%.*}")" -gt 0 ]; do
    sleep 1
    waited=$((waited + 1))
  done
  ixc_zbx_sql "SELECT COALESCE(ROUND(MAX(h.value)), '-') FROM history h JOIN items i ON i.itemid = h.itemid
    WHERE i.hostid = $real_host_id AND i.key_ = 'zabbix[process,$1,avg,busy]'
      AND h.clock BETWEEN ${2%.*} AND ${3%.*} + 60"
}

discovered_items() {
  ixc_zbx_sql "SELECT COUNT(*) FROM items WHERE hostid = $real_host_id AND flags = 4"
}

# Waits until the server takes values for a fresh item: its configuration cache then holds
# everything the database held before (the discovered items too).
probes=0
wait_for_configuration() {
  probes=$((probes + 1))
  ixc_zbx_api item.create "{\"hostid\": \"$real_host_id\", \"name\": \"sonda $probes\",
    \"key_\": \"ixc.sonda$probes\", \"type\": 2, \"value_type\": 3}" >/dev/null
  local deadline=$((SECONDS + 600))
  until zabbix_sender -z 127.0.0.1 -p "$IXC_ZBX_PORT" -s "$real_host" -k "ixc.sonda$probes" -o 1 2>&1 |
    grep -q 'processed: 1'; do
    if [ "$SECONDS" -ge "$deadline" ] || ! zabbix_server_alive; then
      echo "bench/run: the server never took the probe" >&2
      server_complaints
      exit 1
    fi
    sleep 1
  done
}

zabbix_server_alive() {
  kill -0 "$IXC_ZBX_PID" 2>/dev/null && ! grep -q 'Zabbix Server stopped' "$IXC_ZBX_LOG"
}

# What the server's log says of running out of a cache, or of stopping.
server_complaints() {
  grep -E 'please increase|out of memory|Zabbix Server stopped' "$IXC_ZBX_LOG" | head -5 >&2 || true
}

# One collector run against the real server under the phase clock; appends a measure line
# with its phases and the values stored during it to $1.
real_collector_run() {
  local out=$1 phases=$work/phases started ended m
  rm -f "$phases" "$work/m"
  ixc_zbx_quiet
  ixc_zbx_after_sync
  started=$(now)
  env IXC_TEST_ZABBIX_SERVER="127.0.0.1:$IXC_ZBX_PORT" IXC_PHASES_OUT="$phases" \
    IXC_PHASES_DB_PORT="$IXC_DB_PORT" IXC_PHASES_ZABBIX_PORT="$IXC_ZBX_PORT" \
    IXC_PHASES_EXEC_PORT=9000 IXC_PHASES_ILP_PORT="$ilp_port" \
    "$measure" "$work/m" env LD_PRELOAD="$build/bin/ixc_phase_clock.so" \
    "$IXC_BIN/ixc-atraso-test" $(erp_args) "$real_host" >"$work/real.out" 2>&1 || true
  ended=$(now)
  m=$(cat "$work/m")
  if [ "$(field "$m" status)" != 0 ] || ! grep -qx OK "$work/real.out"; then
    echo "bench/run: a collector run against the real server failed: $m" >&2
    tail -n 5 "$work/real.out" >&2
    server_complaints
    exit 1
  fi
  ixc_zbx_quiet
  local settle
  # Until the quiet stretch began: its own 3 s left out.
  settle=$(awk -v a="$(now)" -v b="$ended" 'BEGIN { printf "%.1f", a - b - 3 }')
  awk -F= -v m="$m" -v stored="$(stored_between "$started" "$ended")" -v settle="$settle" \
    -v started="$started" -v ended="$ended" '
    { t[$1] = $2 }
    END {
      zabbix = (t["questdb_first"] - t["zabbix_first"]) / 1e9
      document = (t["document_answered"] - t["document_sent"]) / 1e9
      printf "%s zabbix_s=%.4f document_s=%.4f values=%d stored=%d settle_s=%s started=%s ended=%s\n",
        m, zabbix, document, t["zabbix_connects"], stored, settle, started, ended
    }' "$phases" >>"$out"
}

# One replay of the recorded frames; appends its line and the values stored during it to $1.
replay_run() {
  local out=$1 started ended line
  ixc_zbx_quiet
  ixc_zbx_after_sync
  started=$(now)
  line=$("$build/bin/ixc-bench-replay" "$work/frames.jsonl" 127.0.0.1 "$IXC_ZBX_PORT") ||
    { echo "bench/run: the replay failed: $line" >&2; exit 1; }
  ended=$(now)
  ixc_zbx_quiet
  echo "$line stored=$(stored_between "$started" "$ended")" >>"$out"
}

measure_real_zabbix() {
  local size=$1 folder=$work/zabbix-$size r template_id group_id key found
  echo "== $size customers against a real Zabbix server (${real_zabbix_settings[*]})" >&2
  load_erp "$size"
  ixc_root_sql -e "DROP DATABASE IF EXISTS zabbix; DROP USER IF EXISTS 'zabbix'@'%';"
  ixc_start_zabbix "$folder" "${real_zabbix_settings[@]}"

  template_id=$(ixc_zbx_import_template "${real_template:-$(ixc_zbx_template_file)}")
  group_id=$(ixc_zbx_api hostgroup.create '{"name": "Provedores IXC"}' |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["groupids"][0])')
  real_host_id=$(ixc_zbx_api host.create "{\"host\": \"$real_host\", \"groups\": [{\"groupid\": \"$group_id\"}],
    \"templates\": [{\"templateid\": \"$template_id\"}]}" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["hostids"][0])')
  for key in "${cache_keys[@]}"; do
    ixc_zbx_api item.create "{\"hostid\": \"$real_host_id\", \"name\": \"$key\", \"key_\": \"$key\",
      \"type\": 5, \"value_type\": 3, \"delay\": \"5s\"}" >/dev/null
  done
  for key in "${busy_keys[@]}"; do
    ixc_zbx_api item.create "{\"hostid\": \"$real_host_id\", \"name\": \"$key\", \"key_\": \"$key\",
      \"type\": 5, \"value_type\": 0, \"delay\": \"5s\"}" >/dev/null
  done
  wait_for_configuration

  # The frames the collector sends, for the replay: the same host, so the same bytes.
  rm -f "$work/frames.jsonl"
  ixc_start_questdb "$questdb" "$work/questdb.log" 9000 "$ilp_port"
  ixc_start_trapper 127.0.0.1:0 "$work/frames.jsonl" "$work/trapper.log"
  IXC_TEST_ZABBIX_SERVER="127.0.0.1:$IXC_TRAPPER_PORT" "$IXC_BIN/ixc-atraso-test" $(erp_args) \
    "$real_host" >/dev/null
  ixc_stop "$IXC_TRAPPER_PID"
  [ "$(wc -l <"$work/frames.jsonl")" = $((2 * size + 7)) ] ||
    { echo "bench/run: the recorded run did not send $((2 * size + 7)) values" >&2; exit 1; }

  # Run 1 makes the discovery; the discovered items appear while it is still sending.
  local started
  rm -f "$work/found"
  started=$(now)
  (
    until [ "$(discovered_items)" -ge $((2 * size)) ]; do sleep 0.5; done
    now >"$work/found"
  ) &
  local watcher=$!
  ixc_remember "$watcher"
  "$measure" "$work/run1.m" env IXC_TEST_ZABBIX_SERVER="127.0.0.1:$IXC_ZBX_PORT" \
    "$IXC_BIN/ixc-atraso-test" $(erp_args) "$real_host" >"$work/run1.out" 2>&1 ||
    {
      echo "bench/run: run 1 against the real server failed" >&2
      tail -n 5 "$work/run1.out" >&2
      server_complaints
      exit 1
    }
  for ((r = 0; r < 1200; r++)); do
    [ -s "$work/found" ] && break
    zabbix_server_alive || break
    sleep 0.5
  done
  [ -s "$work/found" ] || {
    echo "bench/run: the discovery never made $((2 * size)) items" >&2
    server_complaints
    exit 1
  }
  found=$(cat "$work/found")
  result[items_exist,$size]=$(awk -v a="$found" -v b="$started" 'BEGIN { printf "%.1f", a - b }')
  # What the new per-customer triggers cost the server before the values come: from run 1's end
  # until its processes and MariaDB are quiet.
  local run1_ended
  run1_ended=$(now)
  ixc_zbx_quiet 600
  result[settle_first,$size]=$(awk -v a="$(now)" -v b="$run1_ended" 'BEGIN { printf "%.1f", a - b - 3 }')
  result[syncer_discovery,$size]=$(busy_max_between "history syncer" "$started" "$(now)")
  wait_for_configuration

  # Run 2 is the first whose values have items to land in; for the server it is dearer than
  # any later one (every item takes its first value), so it is measured on its own.
  rm -f "$work/second.m" "$work/real.m" "$work/replay.m"
  real_collector_run "$work/second.m"
  for ((r = 0; r < runs; r++)); do
    real_collector_run "$work/real.m"
    replay_run "$work/replay.m"
  done

  # Every run's own line, for a reader who wants more than the medians.
  sed 's/^/second run: /' "$work/second.m" >&2
  sed 's/^/collector: /' "$work/real.m" >&2
  sed 's/^/replay:    /' "$work/replay.m" >&2
  result[stored_first,$size]=$(sed -n 's/.*stored=\([0-9]*\).*/\1/p' "$work/second.m")
  result[second_zabbix_s,$size]=$(median_of "$work/second.m" zabbix_s)
  # Per-value pace with the discovery document's own exchange left out, for both senders.
  awk -v n="$((2 * size + 6))" '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
       print n / (v["zabbix_s"] - v["document_s"]) }' "$work/real.m" >"$work/real.rate"
  awk -v n="$((2 * size + 6))" '{ for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
       print n / (v["wall_s"] - v["largest_s"]) }' "$work/replay.m" >"$work/replay.rate"
  result[real_rate,$size]=$(median <"$work/real.rate")
  result[replay_rate,$size]=$(median <"$work/replay.rate")
  result[real_zabbix_s,$size]=$(median_of "$work/real.m" zabbix_s)
  result[real_document_s,$size]=$(median_of "$work/real.m" document_s)
  result[replay_s,$size]=$(median_of "$work/replay.m" wall_s)
  result[real_wall_s,$size]=$(median_of "$work/real.m" wall_s)
  result[real_rss,$size]=$(median_of "$work/real.m" maxrss_kb)
  result[settle_second,$size]=$(median_of "$work/second.m" settle_s)
  result[settle_later,$size]=$(median_of "$work/real.m" settle_s)
  result[syncer_second,$size]=$(busy_max_between "history syncer" \
    "$(median_of "$work/second.m" started)" "$(median_of "$work/second.m" ended)")
  result[syncer_later,$size]=$(busy_max_between "history syncer" \
    "$(sed -n 's/.* started=\([0-9.]*\).*/\1/p' "$work/real.m" | head -1)" \
    "$(sed -n 's/.* ended=\([0-9.]*\).*/\1/p' "$work/real.m" | tail -1)")
  result[timer_later,$size]=$(busy_max_between timer \
    "$(sed -n 's/.* started=\([0-9.]*\).*/\1/p' "$work/real.m" | head -1)" \
    "$(sed -n 's/.* ended=\([0-9.]*\).*/\1/p' "$work/real.m" | tail -1)")
  # Customers over the default limit get a problem each, opened by run 2's values.
  result[problems,$size]=$(ixc_zbx_sql "SELECT COUNT(*) FROM problem WHERE source = 0 AND object = 0
    AND r_eventid IS NULL AND name LIKE 'IXC: % (cliente %) deve mais de R$ %'")
  result[stored_min,$size]=$(
    { sed -n 's/.*stored=\([0-9]*\).*/\1/p' "$work/real.m" "$work/replay.m"; } | sort -n | head -1)

  # The caches: the most each held, and what the discovered items added per customer.
  local cache
  for cache in rcache trend history index vcache; do
    local like
    case $cache in
      rcache) like='zabbix[rcache,buffer,used]' ;;
      vcache) like='zabbix[vcache,buffer,used]' ;;
      *) like="zabbix[wcache,$cache,used]" ;;
    esac
    read -r "result[${cache}_min,$size]" "result[${cache}_max,$size]" < <(ixc_zbx_sql \
      "SELECT MIN(h.value), MAX(h.value) FROM history_uint h JOIN items i ON i.itemid = h.itemid
       WHERE i.hostid = $real_host_id AND i.key_ = '$like'")
  done
  local process
  for process in timer "history syncer" "lld worker"; do
    result[busy_${process// /_},$size]=$(ixc_zbx_sql "SELECT ROUND(MAX(h.value)) FROM history h
      JOIN items i ON i.itemid = h.itemid
      WHERE i.hostid = $real_host_id AND i.key_ = 'zabbix[process,$process,avg,busy]'")
  done
  # What a stored per-customer value takes in the database, indexes included.
  ixc_zbx_sql "ANALYZE TABLE history, history_uint" >/dev/null
  result[value_bytes,$size]=$(ixc_zbx_sql "SELECT ROUND(SUM(data_length + index_length) /
      ((SELECT COUNT(*) FROM history) + (SELECT COUNT(*) FROM history_uint)))
    FROM information_schema.tables WHERE table_schema = 'zabbix'
      AND table_name IN ('history', 'history_uint')")
  measure_frontend "$size"
  result[alive,$size]=$(zabbix_server_alive && echo yes || echo NO)
  result[complaints,$size]=$(grep -c -e 'please increase' -e 'out of memory' "$IXC_ZBX_LOG" || true)
  server_complaints

  ixc_stop "$IXC_QUESTDB_PID"
  ixc_stop_zabbix
}

print_real_zabbix_table() {
  echo
  echo "ixc-atraso against a real Zabbix server, $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores" \
    "($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1))"
  echo "$(zabbix_server -V 2>/dev/null | head -1); settings: ${real_zabbix_settings[*]}; $build_type build"
  echo "medians of $runs runs each; times in seconds"
  echo
  row "customers with overdue receivables" "target" "${sizes[@]}"
  line "discovered items exist, from run 1's start" "" value_of items_exist
  line "run 2 (first values of the items): Zabbix" "" value_of second_zabbix_s
  line "later collector runs, whole" "" value_of real_wall_s
  line "  Zabbix phase" "" value_of real_zabbix_s
  line "    of which the discovery document" "" value_of real_document_s
  line "  values/s, document left out" "" value_of_rounded real_rate
  line "replay of the same frames, whole" "" value_of replay_s
  line "  values/s, document left out" "" value_of_rounded replay_rate
  line "  collector / replay values/s" ">= 0.9" ratio_of real_rate replay_rate
  line "second-run values stored (%)" "100" stored_share
  line "fewest values stored by a later run/replay" "" value_of stored_min
  line "configuration cache used, most (MB)" "" cache_mb rcache_max
  line "  per customer (bytes)" "" bytes_per_customer rcache
  line "trend cache used, most (MB)" "" cache_mb trend_max
  line "history cache used, most (MB)" "" cache_mb history_max
  line "history index cache used, most (MB)" "" cache_mb index_max
  line "value cache used, most (MB)" "" cache_mb vcache_max
  line "  per customer (bytes)" "" bytes_per_customer vcache
  line "busiest timer process (%)" "" value_of busy_timer
  line "busiest history syncer (%)" "" value_of busy_history_syncer
  line "busiest LLD worker (%)" "" value_of busy_lld_worker
  line "per-customer triggers: open problems" "" value_of problems
  line "  settling after run 1 (discovery) (s)" "" value_of settle_first
  line "    busiest history syncer, run 1 on (%)" "" value_of syncer_discovery
  line "  settling after run 2 (first values) (s)" "" value_of settle_second
  line "    busiest history syncer in run 2 (%)" "" value_of syncer_second
  line "  settling after a later run (s)" "" value_of settle_later
  line "    busiest history syncer, later runs (%)" "" value_of syncer_later
  line "    busiest timer, later runs (%)" "" value_of timer_later
  line "database bytes per stored value" "" value_of value_bytes
  line "collector peak memory (MB)" "" megabytes real_rss
  line "server still running" "yes" value_of alive
  line "'please increase' lines in its log" "0" value_of complaints
}

bytes_per_customer() {
  awk -v a="${result[${1}_max,$2]}" -v b="${result[${1}_min,$2]}" -v n="$2" \
    'BEGIN { printf "%.0f", (a - b) / n }'
}
value_of_rounded() { awk -v v="${result[$1,$2]}" 'BEGIN { printf "%.0f", v }'; }
cache_mb() { awk -v b="${result[$1,$2]}" 'BEGIN { printf "%.1f", b / 1048576 }'; }
stored_share() { awk -v s="${result[stored_first,$1]}" -v n="$((2 * $1))" 'BEGIN { printf "%.1f", 100 * s / n }'; }
