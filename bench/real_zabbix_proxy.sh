# bench/run --zabbix-server --proxy: the collector against the real Zabbix server directly and
# through an active Zabbix proxy beside the collector (bench/zabbix_proxy.sh), same size, same
# data, same host and items. Sourced by bench/run after servers.sh, zabbix_server.sh,
# zabbix_proxy.sh and real_zabbix.sh (whose server settings, IXC_BENCH_ZABBIX_SETTINGS, and
# helpers it uses). For each size, on a fresh Zabbix database:
# - the template is imported and a host made from it; run 1 against the server makes the
#   discovery, and the server is let take the discovered items into its configuration;
# - RUNS collector runs against the server (run 2, every item's first value, is left out);
# - the host is moved to the proxy, which is let take it and its items;
# - RUNS collector runs against the proxy.
# Before each run a receivable falls due for every overdue customer, so every customer's amount
# and title count change: the template stores an unchanged value only at its heartbeat, and a
# run of unchanged values would have nothing to wait for.
# For each run: the Zabbix phase (phase clock) and the values/s with the discovery document's
# exchange left out, and the delay from the run's end until every value it sent (2N + 6) is in
# the server's history. The proxy fetches its configuration every 10 s (7.0's default; 6.0's
# default is an hour). IXC_BENCH_ZABBIX_PROXY_SETTINGS (blank-separated KEY=VALUE) replaces the
# proxy settings below.

real_proxy_settings=(${IXC_BENCH_ZABBIX_PROXY_SETTINGS:-CacheSize=512M HistoryCacheSize=64M HistoryIndexCacheSize=32M})

# Values stored for the host's discovered items and totals with a clock from $1 on.
proxy_bench_stored_since() {
  ixc_zbx_sql "SELECT (SELECT COUNT(*) FROM history h JOIN items i ON i.itemid = h.itemid
      WHERE i.hostid = $real_host_id AND (i.flags = 4 OR i.key_ LIKE 'soma%') AND h.clock >= ${1%.*})
    + (SELECT COUNT(*) FROM history_uint h JOIN items i ON i.itemid = h.itemid
      WHERE i.hostid = $real_host_id AND (i.flags = 4 OR i.key_ LIKE 'soma%') AND h.clock >= ${1%.*})"
}

# Waits until zabbix_sender at PORT takes a value for a fresh probe item: whatever receives
# there (the server or the proxy) then knows the discovered items too.
proxy_bench_wait_for_configuration() {
  local port=$1 deadline=$((SECONDS + 900))
  probes=$((probes + 1))
  ixc_zbx_api item.create "{\"hostid\": \"$real_host_id\", \"name\": \"sonda $probes\",
    \"key_\": \"ixc.sonda$probes\", \"type\": 2, \"value_type\": 3}" >/dev/null
  until zabbix_sender -z 127.0.0.1 -p "$port" -s "$real_host" -k "ixc.sonda$probes" -o 1 2>&1 |
    grep -q 'processed: 1'; do
    if [ "$SECONDS" -ge "$deadline" ] || ! zabbix_server_alive; then
      echo "bench/run: 127.0.0.1:$port never took the probe" >&2
      server_complaints
      exit 1
    fi
    sleep 1
  done
}

# One more overdue receivable, of 1.00, for every customer the statement lists.
proxy_bench_fall_due() {
  ixc_root_sql "$database" -e "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status,
      data_emissao, data_vencimento, valor, valor_aberto)
    SELECT id_cliente, MIN(id_contrato), MIN(filial_id), 'A', CURRENT_DATE() - INTERVAL 40 DAY,
      CURRENT_DATE() - INTERVAL 10 DAY, 1.00, 1.00
    FROM fn_areceber
    WHERE status = 'A' AND data_vencimento < CURRENT_DATE() AND valor_aberto > 0
      AND id_contrato IS NOT NULL
    GROUP BY id_cliente"
}

# One collector run against PORT under the phase clock; appends a measure line with its phases,
# pace and delay until all its values were in the server's history to $2.
proxy_bench_run() {
  local port=$1 out=$2 phases=$work/phases started ended m stored expected=$((2 * $3 + 6)) landed
  rm -f "$phases" "$work/m"
  proxy_bench_fall_due
  ixc_zbx_quiet
  ixc_zbx_after_sync
  started=$(now)
  env IXC_TEST_ZABBIX_SERVER="127.0.0.1:$port" IXC_PHASES_OUT="$phases" \
    IXC_PHASES_DB_PORT="$IXC_DB_PORT" IXC_PHASES_ZABBIX_PORT="$port" \
    IXC_PHASES_EXEC_PORT=9000 IXC_PHASES_ILP_PORT="$ilp_port" \
    "$measure" "$work/m" env LD_PRELOAD="$build/bin/ixc_phase_clock.so" \
    "$IXC_BIN/ixc-atraso-test" $(erp_args) "$real_host" >"$work/real.out" 2>&1 || true
  ended=$(now)
  m=$(cat "$work/m")
  if [ "$(field "$m" status)" != 0 ] || ! grep -qx OK "$work/real.out"; then
    echo "bench/run: a collector run against 127.0.0.1:$port failed: $m" >&2
    tail -n 5 "$work/real.out" >&2
    server_complaints
    exit 1
  fi
  # The run's values are the only ones with a clock from its start on.
  landed=
  while [ -z "$landed" ]; do
    stored=$(proxy_bench_stored_since "$started")
    if [ "$stored" -ge "$expected" ]; then
      landed=$(now)
    elif awk -v a="$(now)" -v b="$ended" 'BEGIN { exit !(a - b > 900) }'; then
      landed=never
    else
      sleep 0.5
    fi
  done
  awk -F= -v m="$m" -v ended="$ended" -v landed="$landed" -v stored="$stored" -v n="$expected" '
    { t[$1] = $2 }
    END {
      zabbix = (t["questdb_first"] - t["zabbix_first"]) / 1e9
      document = (t["document_answered"] - t["document_sent"]) / 1e9
      delay = landed == "never" ? "never" : sprintf("%.1f", landed - ended)
      printf "%s zabbix_s=%.4f document_s=%.4f rate=%.0f values=%d stored=%d delay_s=%s\n", m, zabbix,
        document, n / (zabbix - document), t["zabbix_connects"], stored, delay
    }' "$phases" >>"$out"
}

measure_real_zabbix_proxy() {
  local size=$1 folder=$work/zabbix-$size r template_id group_id
  echo "== $size customers: the real Zabbix server directly and through a proxy" \
    "(server: ${real_zabbix_settings[*]}; proxy: ${real_proxy_settings[*]})" >&2
  load_erp "$size"
  ixc_root_sql -e "DROP DATABASE IF EXISTS zabbix; DROP USER IF EXISTS 'zabbix'@'%';"
  ixc_start_zabbix "$folder" "${real_zabbix_settings[@]}"
  ixc_start_zabbix_proxy "$folder/proxy" bench-proxy "$(ixc_zbxp_config_frequency 10)" \
    "${real_proxy_settings[@]}"
  template_id=$(ixc_zbx_import_template "${real_template:-$(ixc_zbx_template_file)}")
  group_id=$(ixc_zbx_api hostgroup.create '{"name": "Provedores IXC"}' |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["groupids"][0])')
  real_host_id=$(ixc_zbx_api host.create "{\"host\": \"$real_host\", \"groups\": [{\"groupid\": \"$group_id\"}],
    \"templates\": [{\"templateid\": \"$template_id\"}]}" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["hostids"][0])')
  proxy_bench_wait_for_configuration "$IXC_ZBX_PORT"
  ixc_start_questdb "$questdb" "$work/questdb.log" 9000 "$ilp_port"

  # Run 1 makes the discovery; run 2 gives every item its first value, dearer than later runs.
  IXC_TEST_ZABBIX_SERVER="127.0.0.1:$IXC_ZBX_PORT" "$IXC_BIN/ixc-atraso-test" $(erp_args) \
    "$real_host" >"$work/run1.out" 2>&1 || { tail -n 5 "$work/run1.out" >&2; exit 1; }
  for ((r = 0; r < 1800; r++)); do
    [ "$(discovered_items)" -ge $((2 * size)) ] && break
    zabbix_server_alive || break
    sleep 0.5
  done
  [ "$(discovered_items)" -ge $((2 * size)) ] ||
    { echo "bench/run: the discovery never made $((2 * size)) items" >&2; server_complaints; exit 1; }
  proxy_bench_wait_for_configuration "$IXC_ZBX_PORT"
  rm -f "$work/direct.m" "$work/proxied.m" "$work/first.m"
  proxy_bench_run "$IXC_ZBX_PORT" "$work/first.m" "$size"
  for ((r = 0; r < runs; r++)); do proxy_bench_run "$IXC_ZBX_PORT" "$work/direct.m" "$size"; done

  # The same host and items, now monitored by the proxy.
  ixc_zbx_api host.update "{\"hostid\": \"$real_host_id\", $(ixc_zbxp_monitored_by "$IXC_ZBXP_ID")}" >/dev/null
  local moved=$SECONDS
  proxy_bench_wait_for_configuration "$IXC_ZBXP_PORT"
  result[proxy_config_s,$size]=$((SECONDS - moved))
  for ((r = 0; r < runs; r++)); do proxy_bench_run "$IXC_ZBXP_PORT" "$work/proxied.m" "$size"; done

  sed 's/^/direct: /' "$work/direct.m" >&2
  sed 's/^/proxy:  /' "$work/proxied.m" >&2
  local key which
  for which in direct proxied; do
    for key in wall_s zabbix_s document_s rate delay_s; do
      result[${which}_$key,$size]=$(median_of "$work/$which.m" "$key")
    done
    result[${which}_stored,$size]=$(sed -n 's/.*stored=\([0-9]*\).*/\1/p' "$work/$which.m" | sort -n | head -1)
  done
  result[alive,$size]=$(zabbix_server_alive && kill -0 "$IXC_ZBXP_PID" 2>/dev/null && echo yes || echo NO)
  result[complaints,$size]=$(cat "$IXC_ZBX_LOG" "$IXC_ZBXP_LOG" |
    grep -c -e 'please increase' -e 'out of memory' || true)
  server_complaints
  grep -E 'please increase|out of memory' "$IXC_ZBXP_LOG" | head -5 >&2 || true

  ixc_stop "$IXC_QUESTDB_PID"
  ixc_stop_zabbix_proxy
  ixc_stop_zabbix
}

print_real_zabbix_proxy_table() {
  echo
  echo "ixc-atraso through a Zabbix proxy, $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores" \
    "($(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1))"
  echo "$("$IXC_ZBXP_BINARY" -V 2>/dev/null | head -1), SQLite, active, on the same machine;" \
    "server: ${real_zabbix_settings[*]}; proxy: ${real_proxy_settings[*]}; $build_type build"
  echo "medians of $runs runs each; times in seconds; delay = run's end to its last value in the server's history"
  echo
  row "customers with overdue receivables" "" "${sizes[@]}"
  line "values per run (2N + 6, document apart)" "" values_per_run
  line "to the server: whole run" "" value_of direct_wall_s
  line "  Zabbix phase" "" value_of direct_zabbix_s
  line "  values/s, document left out" "" value_of direct_rate
  line "  delay until all in the server's history" "" value_of direct_delay_s
  line "to the proxy: whole run" "" value_of proxied_wall_s
  line "  Zabbix phase" "" value_of proxied_zabbix_s
  line "  values/s, document left out" "" value_of proxied_rate
  line "  delay until all in the server's history" "" value_of proxied_delay_s
  line "proxy / server values/s" "" ratio_of proxied_rate direct_rate
  line "proxy took the moved host, after (s)" "" value_of proxy_config_s
  line "fewest values stored by a run (of 2N + 6)" "" fewest_stored
  line "server and proxy still running" "yes" value_of alive
  line "'please increase' lines in their logs" "0" value_of complaints
}
values_per_run() { echo $((2 * $1 + 6)); }
fewest_stored() {
  local a=${result[direct_stored,$1]} b=${result[proxied_stored,$1]}
  echo $((a < b ? a : b))
}
