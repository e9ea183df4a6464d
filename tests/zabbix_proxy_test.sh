#!/usr/bin/env bash
# The collector through an active Zabbix proxy of this Debian release (6.0 on Debian 12, 7.0 on
# Debian 13), as the README's sizing guide tells a provider whose server is far away: a host made
# from the shipped template and monitored by the proxy, the collector pointed at the proxy. Every
# value must reach the server's history: the six totals from the first run, the discovery (the
# server makes the items from the first run's document), and from the second run on every
# per-customer value, each with the ERP's exact figure; the server itself refuses values for
# the host. A second host, also monitored by the proxy, accepts PSK only: the collector's runs
# with the key land, a run in clear text lands nothing. The check job, pointed at the proxy,
# says OK for the linked host.
#
# Everything runs on 127.0.0.1 from a mktemp -d folder, on free ports: one MariaDB for the
# Zabbix database and the ERP (tests/fixtures/collection/customers.sql, the six customers of
# zabbix_server_test.sh), zabbix_server and its API (bench/zabbix_server.sh), zabbix_proxy with
# its own SQLite file (bench/zabbix_proxy.sh), and the QuestDB stand-in so that runs end with OK.
set -euo pipefail

bin=${IXC_BIN_DIR:?IXC_BIN_DIR must name the build folder bin/}
source_dir=${IXC_SOURCE_DIR:?IXC_SOURCE_DIR must name the source tree}
tests_dir=${IXC_TESTS_DIR:-$source_dir/tests}

export PATH=$PATH:/usr/sbin:/sbin
IXC_ROOT=$source_dir
IXC_BIN=$bin
# shellcheck source=../bench/servers.sh
source "$source_dir/bench/servers.sh"
# shellcheck source=../bench/zabbix_server.sh
source "$source_dir/bench/zabbix_server.sh"
# shellcheck source=../bench/zabbix_proxy.sh
source "$source_dir/bench/zabbix_proxy.sh"

work=$(mktemp -d /tmp/ixc-zabbix-proxy.XXXXXX)
cleanup() {
  local status=$?
  # The proxy first, then the server: each flushes what it holds on the way out.
  [ -z "${IXC_ZBXP_PID:-}" ] || ixc_stop_zabbix_proxy
  [ -z "${IXC_ZBX_PID:-}" ] || ixc_stop_zabbix
  ixc_stop_all
  if [ "$status" -ne 0 ]; then
    for log in proxy/zabbix_proxy.out proxy/zabbix_proxy.log zabbix/zabbix_server.log zabbix/php.log \
      mariadb/error.log run1.out run2.out psk1.out psk2.out clear.out check.out; do
      [ -s "$work/$log" ] && { echo "--- $log (end)"; grep -v -e Accepted -e Closing "$work/$log" | tail -n 30; }
    done >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 143' TERM INT

fail() { echo "FAIL: $*" >&2; exit 1; }
wait_until() {  # wait_until SECONDS DESCRIPTION COMMAND...: retries COMMAND every half second
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what (waited ${seconds} s)"
    sleep 0.5
  done
}
# Each wait returns as soon as its condition holds; the bound matters on a busy machine only.
patience=${IXC_ZABBIX_PATIENCE:-300}
[ -x "$IXC_ZBXP_BINARY" ] || fail "no Zabbix proxy at $IXC_ZBXP_BINARY (scripts/setup unpacks it)"
command -v zabbix_sender >/dev/null || fail "no zabbix_sender on PATH (scripts/setup installs it)"

questdb_address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
host_name=provedor-ixc-proxy
psk_host=provedor-ixc-proxy-psk

mkdir "$work/mariadb"
ixc_start_mariadb "$work/mariadb" 256M || fail "MariaDB did not start"
ixc_root_sql -e 'CREATE DATABASE ixc_erp CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci'
ixc_root_sql ixc_erp <"$source_dir/tools/ixc_erp/ixc_schema.sql"
ixc_root_sql ixc_erp <"$tests_dir/fixtures/collection/customers.sql"

ixc_start_zabbix "$work/zabbix" CacheUpdateFrequency=1 StartTrappers=2 StartPreprocessors=1 \
  StartLLDProcessors=1 StartDBSyncers=1 StartTimers=1 StartEscalators=1 StartAlerters=1 \
  StartPollers=0 StartPollersUnreachable=0 StartHistoryPollers=0 Timeout=4 ||
  fail "zabbix_server or its API did not start"
# The proxy fetches its configuration every 10 s, 7.0's default; 6.0's default of an hour would
# keep the discovered items from the proxy, and their values from Zabbix, for up to that long.
ixc_start_zabbix_proxy "$work/proxy" ixc-proxy-teste "$(ixc_zbxp_config_frequency 10)" \
  StartPollers=0 StartPollersUnreachable=0 StartPingers=0 StartDiscoverers=0 StartHTTPPollers=0 \
  StartPreprocessors=1 StartDBSyncers=1 StartTrappers=2 Timeout=4 ||
  fail "zabbix_proxy did not start or got no configuration"
proxy_port=$IXC_ZBXP_PORT

api() { ixc_zbx_api "$@" || fail "API $1 refused"; }
py() { python3 -c "import json, sys; r = json.load(sys.stdin); print($1)"; }

template_id=$(ixc_zbx_import_template "$(ixc_zbx_template_file)") || fail "importing the template"
group_id=$(api hostgroup.create '{"name": "Provedores IXC"}' | py 'r["groupids"][0]')
host_id=$(api host.create "{\"host\": \"$host_name\", \"groups\": [{\"groupid\": \"$group_id\"}],
  \"templates\": [{\"templateid\": \"$template_id\"}], $(ixc_zbxp_monitored_by "$IXC_ZBXP_ID")}" |
  py 'r["hostids"][0]')

# send HOST KEY VALUE [zabbix_sender options]: zabbix_sender's answer from the proxy.
send() {
  local host=$1 key=$2 value=$3
  shift 3
  zabbix_sender -z 127.0.0.1 -p "$proxy_port" -s "$host" -k "$key" -o "$value" "$@" 2>&1 || true
}
# The proxy takes values only for the items in its copy of the configuration. A fresh probe item
# tells when that copy has caught up with everything created before it.
probes=0
wait_for_proxy() {  # wait_for_proxy HOST_ID HOST WHAT [zabbix_sender options]
  local id=$1 host=$2 what=$3
  shift 3
  probes=$((probes + 1))
  api item.create "{\"hostid\": \"$id\", \"name\": \"sonda $probes\", \"key_\": \"ixc.sonda$probes\",
    \"type\": 2, \"value_type\": 3}" >/dev/null
  probe_taken() { send "$host" "ixc.sonda$probes" 1 "$@" | grep -q 'processed: 1'; }
  wait_until "$patience" "the proxy did not take $what into its configuration" probe_taken "$@"
}
wait_for_proxy "$host_id" "$host_name" "the new host"
# The server itself takes nothing for a host monitored by a proxy.
answer=$(zabbix_sender -z 127.0.0.1 -p "$IXC_ZBX_PORT" -s "$host_name" -k "ixc.sonda$probes" -o 1 2>&1 || true)
grep -q 'processed: 0; failed: 1' <<<"$answer" || fail "the server took a value for the host monitored by the proxy: $answer"

"$bin/questdb-standin" --address "$questdb_address" --port 9000 >"$work/questdb.log" 2>&1 &
ixc_remember $!
questdb_ready() { (: <"/dev/tcp/$questdb_address/9000") 2>/dev/null; }
wait_until 20 "the QuestDB stand-in did not listen" questdb_ready

collect() {  # collect NAME HOST EXPECTED_STATUS [VAR=VALUE...]: one run against the proxy
  local name=$1 host=$2 expected=$3 status=0
  shift 3
  env IXC_TEST_ZABBIX_SERVER="127.0.0.1:$proxy_port" "$@" "$bin/ixc-atraso-test" descobertaClientes \
    127.0.0.1 "$IXC_DB_PORT" "$IXC_DB_USER" "$IXC_DB_PASSWORD" ixc_erp "$questdb_address" 9000 "$host" \
    >"$work/$name.out" 2>&1 || status=$?
  [ "$status" -eq "$expected" ] || fail "run $name ended with status $status: $(tail -n 3 "$work/$name.out")"
  [ "$(tail -n 1 "$work/$name.out")" = OK ] || fail "run $name did not end with OK"
}

# What the server holds, read through its API.
item_table() {  # "key itemid value_type" lines for host $host_id
  api item.get "{\"hostids\": [\"$host_id\"], \"output\": [\"key_\", \"value_type\"]}" |
    py '"\n".join(i["key_"] + " " + i["itemid"] + " " + i["value_type"] for i in r)'
}
history() {  # history KEY: the values the server stored for KEY, newest first
  local id type
  read -r id type < <(item_table | awk -v k="$1" '$1 == k {print $2, $3}')
  [ -n "$id" ] || return 0
  api history.get "{\"history\": $type, \"itemids\": [\"$id\"], \"output\": \"extend\"}" |
    py '"\n".join(v["value"] for v in sorted(r, key=lambda v: (int(v["clock"]), int(v["ns"])), reverse=True))'
}
count_history() { history "$1" | grep -c . || true; }
has_values() { [ "$(count_history "$1")" -ge "$2" ]; }
check_value() {  # check_value KEY TYPE EXPECTED: the item's type and its newest value, exactly
  local key=$1 type=$2 expected=$3 actual
  actual=$(item_table | awk -v k="$key" '$1 == k {print $3}')
  [ "$actual" = "$type" ] || fail "$key has value type '$actual', expected $type"
  actual=$(history "$key" | sed -n 1p)
  python3 -c 'import sys; sys.exit(float(sys.argv[1]) != float(sys.argv[2]))' "$actual" "$expected" ||
    fail "$key holds '$actual' in the server, expected $expected"
  if [ "$type" = 3 ]; then [ "$actual" = "$expected" ] || fail "$key holds '$actual', expected $expected"; fi
}
discovered() {  # discovered COUNT: the server made COUNT per-customer items
  [ "$(item_table | grep -cE '^(valorAtraso|titulosAtraso)\[')" -eq "$1" ]
}

float=0 unsigned=3
totals=(somaClientesAtrasoAtivo somaTitulosAtrasoAtivo somaValorAtrasoAtivo
  somaClientesAtrasoInativo somaTitulosAtrasoInativo somaValorAtrasoInativo)
declare -A total_values=([somaClientesAtrasoAtivo]=4 [somaTitulosAtrasoAtivo]=6
  [somaValorAtrasoAtivo]=1000190.2 [somaClientesAtrasoInativo]=2 [somaTitulosAtrasoInativo]=8
  [somaValorAtrasoInativo]=1384.56)
declare -A total_types=([somaClientesAtrasoAtivo]=$unsigned [somaTitulosAtrasoAtivo]=$unsigned
  [somaValorAtrasoAtivo]=$float [somaClientesAtrasoInativo]=$unsigned
  [somaTitulosAtrasoInativo]=$unsigned [somaValorAtrasoInativo]=$float)
# What the fixture owes per customer: value, then titles.
declare -A owes=([1017]="189.9 2" [2002]="150 1" [2003]="0.1 1" [2004]="0.2 3" [2005]="1000000 0"
  [2006]="1234.56 7")

# check_run N: after run N, every total has N values in the server, the newest exact; from the
# second run on, so has every customer's pair.
check_run() {
  local n=$1 key id value titles
  for key in "${totals[@]}"; do
    wait_until "$patience" "the server stored no value $n for $key" has_values "$key" "$n"
    check_value "$key" "${total_types[$key]}" "${total_values[$key]}"
  done
  [ "$n" -ge 2 ] || return 0
  for id in "${!owes[@]}"; do
    read -r value titles <<<"${owes[$id]}"
    wait_until "$patience" "the server stored no value for valorAtraso[$id] after run $n" \
      has_values "valorAtraso[$id]" $((n - 1))
    wait_until "$patience" "the server stored no value for titulosAtraso[$id] after run $n" \
      has_values "titulosAtraso[$id]" $((n - 1))
    check_value "valorAtraso[$id]" $float "$value"
    check_value "titulosAtraso[$id]" $unsigned "$titles"
  done
}

# --- the host monitored by the proxy, in clear text -------------------------------------------
collect run1 "$host_name" 0
check_run 1
wait_until "$patience" "the server made no items from the first run's document" discovered 12
wait_for_proxy "$host_id" "$host_name" "the discovered items"
collect run2 "$host_name" 0
check_run 2
unsupported=$(api item.get "{\"hostids\": [\"$host_id\"], \"output\": [\"key_\", \"error\"],
  \"filter\": {\"state\": 1}}" | py '"; ".join(i["key_"] + ": " + i["error"] for i in r)')
[ -z "$unsupported" ] || fail "unsupported items: $unsupported"

# --- a host that accepts PSK only, monitored by the proxy -----------------------------------------
psk_identity="ixc-atraso proxy psk teste"
psk_key=$(python3 -c 'import secrets; print(secrets.token_hex(32))')
echo "$psk_key" >"$work/psk.key"
psk_host_id=$(api host.create "{\"host\": \"$psk_host\", \"groups\": [{\"groupid\": \"$group_id\"}],
  \"templates\": [{\"templateid\": \"$template_id\"}], $(ixc_zbxp_monitored_by "$IXC_ZBXP_ID"),
  \"tls_connect\": 1, \"tls_accept\": 2, \"tls_psk_identity\": \"$psk_identity\", \"tls_psk\": \"$psk_key\"}" |
  py 'r["hostids"][0]')
with_psk=(--tls-connect psk --tls-psk-identity "$psk_identity" --tls-psk-file "$work/psk.key")
psk_env=(IXC_TEST_ZABBIX_TLS_CONNECT=psk "IXC_TEST_ZABBIX_TLS_PSK_IDENTITY=$psk_identity"
  "IXC_TEST_ZABBIX_TLS_PSK_FILE=$work/psk.key")
wait_for_proxy "$psk_host_id" "$psk_host" "the PSK host" "${with_psk[@]}"

host_id=$psk_host_id
collect psk1 "$psk_host" 0 "${psk_env[@]}"
check_run 1
wait_until "$patience" "the server made no items from the PSK host's document" discovered 12
wait_for_proxy "$psk_host_id" "$psk_host" "the PSK host's discovered items" "${with_psk[@]}"
collect psk2 "$psk_host" 0 "${psk_env[@]}"
check_run 2

# In clear text the proxy takes nothing for this host: neither zabbix_sender's value nor any of
# the collector's (it does not read the counts, so the run still says OK). A PSK value sent
# after the run reaches the server after anything that run could have delivered.
send "$psk_host" somaClientesAtrasoAtivo 40 | grep -q 'processed: 0; failed: 1' ||
  fail "the proxy took a value in clear text for the PSK host"
collect clear "$psk_host" 0 IXC_TEST_ZABBIX_TLS_CONNECT=unencrypted
send "$psk_host" somaClientesAtrasoAtivo 42 "${with_psk[@]}" | grep -q 'processed: 1' ||
  fail "zabbix_sender with PSK was not processed by the proxy"
newest_is_42() { [ "$(history somaClientesAtrasoAtivo | sed -n 1p)" = 42 ]; }
wait_until "$patience" "zabbix_sender's PSK value did not reach the server" newest_is_42
[ "$(count_history somaClientesAtrasoAtivo)" -eq 3 ] && [ "$(count_history somaTitulosAtrasoAtivo)" -eq 2 ] &&
  [ "$(count_history 'valorAtraso[2002]')" -eq 1 ] || fail "the run in clear text stored values on the PSK host"

# --- the check job, pointed at the proxy ---------------------------------------------------------
status=0
IXC_TEST_ZABBIX_SERVER="127.0.0.1:$proxy_port" "$bin/ixc-atraso-test" launch_verificar 127.0.0.1 \
  "$IXC_DB_PORT" "$IXC_DB_USER" "$IXC_DB_PASSWORD" ixc_erp "$questdb_address" 9000 "$host_name" \
  >"$work/check.out" 2>&1 || status=$?
zabbix_line=$(grep -E '^(OK|AVISO|FALHA) +Zabbix valores: ' "$work/check.out" || true)
[ "$status" -eq 0 ] && [[ $zabbix_line == "OK    Zabbix valores: "*"o host '$host_name' aceitou os 6 totais"* ]] ||
  fail "the check job through the proxy ended with status $status: $zabbix_line"
echo "zabbix_proxy_test: Zabbix $IXC_ZBX_VERSION through an active proxy: totals, discovery," \
  "per-customer values and PSK as expected"
