#!/usr/bin/env bash
# The shipped Zabbix template against the real Zabbix server of this Debian release's packages
# (6.0 on Debian 12, 7.0 on Debian 13, each with its own template file): the template is
# imported through the API, with no warning, a host uses it, and the collector runs three times
# against an ERP database of six overdue customers. Zabbix must then hold the six totals with
# the right types and values, the items that its discovery made from the first run's document
# (names and descriptions filled from the macros), the per-customer values from the second run
# on, the triggers in the state the values call for once the host's macros turn the template's
# thresholds on (each trigger and problem tagged escopo), the template's dashboard drawn in the real
# frontend, and, after a customer pays, that customer's items kept for the lost-resources period
# instead of being deleted at once. A customer without a name or CPF/CNPJ (null macros) is named
# "não informado" and keeps the rule supported; an amount that changes is stored and leaves the
# items' and triggers' configuration as it was, and unchanged amounts are not stored again
# within the heartbeat. A second host accepts PSK only, keeps the template's defaults (no problem
# opens) and names customers by id only through {$IXC.ATRASO.CLIENTE.NOME}; and the check job
# (launch_verificar) must say OK for the linked host and FALHA, naming the host, for a misspelt
# one and for the PSK host reached in clear text.
#
# Everything runs on 127.0.0.1 from a mktemp -d folder, on free ports, through the servers of
# bench/servers.sh and bench/zabbix_server.sh: one MariaDB for both the Zabbix database and the
# ERP, zabbix_server with a configuration of its own, the frontend's API under `php -S` (so
# /etc/zabbix is never read or written), and the QuestDB stand-in so that runs end with OK.
set -euo pipefail

bin=${IXC_BIN_DIR:?IXC_BIN_DIR must name the build folder bin/}
source_dir=${IXC_SOURCE_DIR:?IXC_SOURCE_DIR must name the source tree}
tests_dir=${IXC_TESTS_DIR:-$source_dir/tests}

export PATH=$PATH:/usr/sbin:/sbin  # root's PATH may lack sbin in containers
IXC_ROOT=$source_dir
IXC_BIN=$bin
# shellcheck source=../bench/servers.sh
source "$source_dir/bench/servers.sh"
# shellcheck source=../bench/zabbix_server.sh
source "$source_dir/bench/zabbix_server.sh"

work=$(mktemp -d /tmp/ixc-zabbix-server.XXXXXX)
cleanup() {
  local status=$?
  # The server first: it flushes to its database while it stops its workers.
  [ -z "${IXC_ZBX_PID:-}" ] || ixc_stop_zabbix
  [ -z "${IXC_ZBX_NODE_PID:-}" ] || ixc_zbx_stop_server "$IXC_ZBX_NODE_PID"
  ixc_stop_all
  if [ "$status" -ne 0 ]; then
    for log in zabbix/zabbix_server.out zabbix/zabbix_server.log zabbix/php.log mariadb/error.log \
      zabbix-b/zabbix_server.out zabbix-b/zabbix_server.log run1.out run2.out run3.out \
      check_linked.out check_misspelt.out check_clear.out check_psk.out run4.out run5.out \
      check_cluster.out check_failover.out; do
      [ -s "$work/$log" ] && { echo "--- $log (end)"; grep -v -e Accepted -e Closing "$work/$log" | tail -n 40; }
    done >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 143' TERM INT

fail() { echo "FAIL: $*" >&2; exit 1; }
# wait_until SECONDS DESCRIPTION COMMAND...: retries COMMAND every half second.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what (waited ${seconds} s)"
    sleep 0.5
  done
}
alive() { kill -0 "$1" 2>/dev/null || fail "$2 has exited"; }
# How long any one wait may take. Each returns as soon as its condition holds; the bound only
# matters on a machine busy with other work, where the server's syncers and its discovery
# worker fall minutes behind (IXC_ZABBIX_PATIENCE to change it).
patience=${IXC_ZABBIX_PATIENCE:-300}

questdb_address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
host_name=provedor-ixc-teste

# --- MariaDB: the Zabbix database and the ERP ---------------------------------------------
mkdir "$work/mariadb"
ixc_start_mariadb "$work/mariadb" 256M || fail "MariaDB did not start"
sql() { ixc_root_sql "$@"; }
sql -e 'CREATE DATABASE ixc_erp CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci'
sql ixc_erp <"$source_dir/tools/ixc_erp/ixc_schema.sql"
sql ixc_erp <"$tests_dir/fixtures/collection/customers.sql"
# A real ERP can leave a name empty as well as a CPF/CNPJ (2004's): both reach the document as
# null, which the template's discovery rule must turn into "não informado".
sql ixc_erp -e 'ALTER TABLE cliente MODIFY razao VARCHAR(150) NULL; UPDATE cliente SET razao = NULL WHERE id = 2003'

# --- zabbix_server and the frontend's API -----------------------------------------------------
# Lean and quick: the server learns of new hosts and items within a second, and runs only what
# trapper items need. It is the first node of a cluster, alone and so active until the cluster
# part at the end starts its standby.
ixc_start_zabbix "$work/zabbix" CacheUpdateFrequency=1 StartTrappers=2 StartPreprocessors=1 \
  StartLLDProcessors=1 StartDBSyncers=1 StartTimers=1 StartEscalators=1 StartAlerters=1 \
  StartPollers=0 StartPollersUnreachable=0 StartHistoryPollers=0 Timeout=4 HANodeName=ixc-a ||
  fail "zabbix_server or its API did not start"
trapper_port=$IXC_ZBX_PORT

# api METHOD PARAMS_JSON: the call's result as JSON on stdout; an API error fails the test.
api() { ixc_zbx_api "$@" || fail "API $1 refused"; }
# py EXPRESSION: EXPRESSION evaluated with the JSON on stdin as r, printed.
py() { python3 -c "import json, sys; r = json.load(sys.stdin); print($1)"; }

# --- the template and a host that uses it ---------------------------------------------------
template=$(ixc_zbx_template_file)
template_id=$(ixc_zbx_import_template "$template") || fail "configuration.import of $template"
# The frontend's PHP writes warnings and deprecations to its log, not into the API's answer.
php_warnings() { grep -E 'PHP (Warning|Deprecated|Notice|Fatal|Parse)' "$work/zabbix/php.log" || true; }
[ -z "$(php_warnings)" ] || fail "importing $template left warnings in the frontend's log: $(php_warnings)"
group_id=$(api hostgroup.create '{"name": "Provedores IXC"}' | py 'r["groupids"][0]')
# The template's thresholds are off (0); this host turns them on as an operator would: the active
# total above 50000, more than 100 inactive customers (the fixture has 2), any customer above 5000.
# Two context macros exercise the per-customer threshold: 1017 owes 189.9, above its own limit
# of 100; 2005 owes a million, below its own limit; the others stay under the host's 5000.
host_id=$(api host.create "{\"host\": \"$host_name\", \"groups\": [{\"groupid\": \"$group_id\"}],
  \"templates\": [{\"templateid\": \"$template_id\"}],
  \"macros\": [{\"macro\": \"{\$IXC.ATRASO.VALOR.MAX}\", \"value\": \"50000\"},
               {\"macro\": \"{\$IXC.ATRASO.INATIVOS.MAX}\", \"value\": \"100\"},
               {\"macro\": \"{\$IXC.ATRASO.CLIENTE.VALOR.MAX}\", \"value\": \"5000\"},
               {\"macro\": \"{\$IXC.ATRASO.CLIENTE.VALOR.MAX:\\\"1017\\\"}\", \"value\": \"100\"},
               {\"macro\": \"{\$IXC.ATRASO.CLIENTE.VALOR.MAX:\\\"2005\\\"}\", \"value\": \"2000000\"}]}" |
  py 'r["hostids"][0]')

# The server learns of new hosts and items a moment later, and drops values for items it does
# not know yet. A fresh probe item tells when it has caught up: its configuration cache reads
# everything committed before a sync, so once the probe takes a value, so do the older items.
probes=0
command -v zabbix_sender >/dev/null || fail "no zabbix_sender on PATH (scripts/setup installs it)"
probe_accepted() {
  zabbix_sender -z 127.0.0.1 -p "$trapper_port" -s "$host_name" -k "ixc.sonda$probes" -o 1 2>&1 |
    grep -q 'processed: 1'
}
wait_for_configuration() {
  probes=$((probes + 1))
  api item.create "{\"hostid\": \"$host_id\", \"name\": \"sonda $probes\", \"key_\": \"ixc.sonda$probes\",
    \"type\": 2, \"value_type\": 3}" >/dev/null
  wait_until "$patience" "the server did not take $1 into its configuration" probe_accepted
}
wait_for_configuration "the new host"

# --- collection runs ------------------------------------------------------------------------
"$bin/questdb-standin" --address "$questdb_address" --port 9000 >"$work/questdb.log" 2>&1 &
questdb_pid=$!
ixc_remember "$questdb_pid"
questdb_ready() { alive "$questdb_pid" questdb-standin; (: <"/dev/tcp/$questdb_address/9000") 2>/dev/null; }
wait_until 20 "the QuestDB stand-in did not listen" questdb_ready

collect() {  # collect N: one run of the collector, its output in runN.out
  local status=0
  IXC_TEST_ZABBIX_SERVER=${cluster:-127.0.0.1:$trapper_port} "$bin/ixc-atraso-test" descobertaClientes \
    127.0.0.1 "$IXC_DB_PORT" "$IXC_DB_USER" "$IXC_DB_PASSWORD" ixc_erp "$questdb_address" 9000 "$host_name" \
    >"$work/run$1.out" 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "run $1 ended with status $status"
  [ "$(tail -n 1 "$work/run$1.out")" = OK ] || fail "run $1 did not end with OK"
}

# item_table: "key itemid value_type" lines for the host's items.
item_table() {
  api item.get "{\"hostids\": [\"$host_id\"], \"output\": [\"key_\", \"value_type\"]}" |
    py '"\n".join(i["key_"] + " " + i["itemid"] + " " + i["value_type"] for i in r)'
}
# history KEY: the values stored for KEY, newest first, one a line (read with the item's type).
history() {
  local id type
  read -r id type < <(item_table | awk -v k="$1" '$1 == k {print $2, $3}')
  [ -n "$id" ] || return 0
  # Runs may fall within one second, and the API sorts by whole seconds only: sort here.
  api history.get "{\"history\": $type, \"itemids\": [\"$id\"], \"output\": \"extend\"}" |
    py '"\n".join(v["value"] for v in sorted(r, key=lambda v: (int(v["clock"]), int(v["ns"])), reverse=True))'
}
count_history() { history "$1" | grep -c . || true; }
has_values() { [ "$(count_history "$1")" -ge "$2" ]; }

# check_value KEY TYPE EXPECTED: the item's value type and its newest value.
check_value() {
  local key=$1 type=$2 expected=$3 actual
  actual=$(item_table | awk -v k="$key" '$1 == k {print $3}')
  [ "$actual" = "$type" ] || fail "$key has value type '$actual', expected $type"
  actual=$(history "$key" | sed -n 1p)
  python3 -c 'import sys; a, e = float(sys.argv[1]), float(sys.argv[2]); sys.exit(abs(a - e) > 1e-9 * max(1, abs(e)))' \
    "$actual" "$expected" || fail "$key holds '$actual', expected $expected"
  if [ "$type" = 3 ]; then [ "$actual" = "$expected" ] || fail "$key holds '$actual', expected $expected"; fi
}

float=0 unsigned=3
totals=(somaClientesAtrasoAtivo somaTitulosAtrasoAtivo somaValorAtrasoAtivo
  somaClientesAtrasoInativo somaTitulosAtrasoInativo somaValorAtrasoInativo)
customers=(1017 2002 2003 2004 2005 2006)
# What the fixture owes per customer: value, then titles (status 'N' = 2002 and 2006 inactive).
declare -A owes=([1017]="189.9 2" [2002]="150 1" [2003]="0.1 1" [2004]="0.2 3" [2005]="1000000 0"
  [2006]="1234.56 7")

check_totals() {  # check_totals ACTIVE_CUSTOMERS ACTIVE_TITLES ACTIVE_VALUE (inactive unchanged)
  check_value somaClientesAtrasoAtivo $unsigned "$1"
  check_value somaTitulosAtrasoAtivo $unsigned "$2"
  check_value somaValorAtrasoAtivo $float "$3"
  check_value somaClientesAtrasoInativo $unsigned 2
  check_value somaTitulosAtrasoInativo $unsigned 8
  check_value somaValorAtrasoInativo $float 1384.56
}

collect 1
for key in "${totals[@]}"; do wait_until "$patience" "no value stored for $key after run 1" has_values "$key" 1; done
check_totals 4 6 1000190.2
discovered() { [ "$(item_table | grep -cE '^(valorAtraso|titulosAtraso)\[')" -eq $((2 * ${#customers[@]})) ]; }
wait_until "$patience" "the discovery did not create two items per customer" discovered
wait_for_configuration "the discovered items"

# The discovered items carry the customer's macros in their names and descriptions.
items_json=$(api item.get "{\"hostids\": [\"$host_id\"], \"search\": {\"key_\": \"Atraso[\"},
  \"output\": [\"key_\", \"name\", \"description\", \"units\"]}")
item_field() {  # item_field KEY FIELD
  py "[i[\"$2\"] for i in r if i[\"key_\"] == \"$1\"][0]" <<<"$items_json"
}
[ "$(item_field 'valorAtraso[1017]' name)" = 'Valor em atraso: Padaria Pão Quente Ltda (cliente 1017)' ] ||
  fail "valorAtraso[1017] is named '$(item_field 'valorAtraso[1017]' name)'"
[ "$(item_field "titulosAtraso[2002]" name)" = "Títulos em atraso: Mercearia D'Ávila (cliente 2002)" ] ||
  fail "titulosAtraso[2002] is named '$(item_field 'titulosAtraso[2002]' name)'"
[ "$(item_field 'valorAtraso[2003]' name)" = 'Valor em atraso: não informado (cliente 2003)' ] ||
  fail "valorAtraso[2003], whose name is null in the ERP, is named '$(item_field 'valorAtraso[2003]' name)'"
# CPF/CNPJ and phone numbers reach Zabbix in the document, but nothing it keeps may show them.
personal_data='12\.345\.678/0001-90|123\.456\.789-09|987\.654\.321-00|111\.222\.333-44|55\.666\.777/0001-88|98765-4321|3333-4444|9999-0000'
shown=$(api item.get "{\"hostids\": [\"$host_id\"], \"output\": [\"name\", \"description\"]}" |
  py '"\n".join(i["name"] + " " + i["description"] for i in r)' | grep -E "$personal_data" || true)
[ -z "$shown" ] || fail "item names or descriptions show a CPF/CNPJ or phone: $shown"
[ "$(item_field 'valorAtraso[2006]' units)" = '!R$' ] || fail "valorAtraso[2006] has the wrong units"

run2_start=$(date +%s)
collect 2
for id in "${customers[@]}"; do
  read -r value titles <<<"${owes[$id]}"
  wait_until "$patience" "no value stored for valorAtraso[$id] after run 2" has_values "valorAtraso[$id]" 1
  wait_until "$patience" "no value stored for titulosAtraso[$id] after run 2" has_values "titulosAtraso[$id]" 1
  check_value "valorAtraso[$id]" $float "$value"
  check_value "titulosAtraso[$id]" $unsigned "$titles"
done
for key in "${totals[@]}"; do wait_until "$patience" "run 2 stored no second value for $key" has_values "$key" 2; done

# A value that does not fit an item's type is acknowledged and then turns the item unsupported:
# every item and the discovery rule must still be supported.
unsupported=$(api item.get "{\"hostids\": [\"$host_id\"], \"output\": [\"key_\", \"error\"],
  \"filter\": {\"state\": 1}}" | py '"; ".join(i["key_"] + ": " + i["error"] for i in r)')
[ -z "$unsupported" ] || fail "unsupported items: $unsupported"
rule_error=$(api discoveryrule.get "{\"hostids\": [\"$host_id\"], \"output\": [\"state\", \"error\"]}" |
  py 'r[0]["state"] + " " + r[0]["error"]')
[ "$rule_error" = "0 " ] || fail "the discovery rule reports: $rule_error"

# Triggers: the active total is above the host's 50000, the inactive count below 100, the
# totals arrive, and of the customers only 1017 is above its limit.
problems() {
  api trigger.get "{\"hostids\": [\"$host_id\"], \"output\": [\"description\"], \"filter\": {\"value\": 1},
    \"expandDescription\": true}" | py '"\n".join(sorted(t["description"] for t in r))'
}
expected_problems=$(printf '%s\n' \
  'IXC: Padaria Pão Quente Ltda (cliente 1017) deve mais de R$ 100' \
  'IXC: valor em atraso dos clientes ativos acima de R$ 50000')
problems_as_expected() { [ "$(problems)" = "$expected_problems" ]; }
deadline=$((SECONDS + patience))  # triggers change once the history syncer has the values
until problems_as_expected; do
  [ "$SECONDS" -lt "$deadline" ] || fail "problems are:
$(problems)
expected:
$expected_problems"
  sleep 0.5
done
# What a problem and its alert carry: the name, operational data and description, expanded.
shown=$(api trigger.get "{\"hostids\": [\"$host_id\"], \"output\": [\"description\", \"comments\", \"opdata\"],
  \"expandDescription\": true, \"expandComment\": true}" |
  py '"\n".join(t["description"] + " " + t["comments"] + " " + t["opdata"] for t in r)' | grep -E "$personal_data" || true)
[ -z "$shown" ] || fail "trigger or problem texts show a CPF/CNPJ or phone: $shown"
# Every trigger, the discovered ones too, carries the tag that actions filter on: escopo coleta
# for the collection stopping, cobranca for the rest; and the open problems carry it as well.
untagged=$(api trigger.get "{\"hostids\": [\"$host_id\"], \"output\": [\"description\"], \"selectTags\": \"extend\"}" |
  py '"; ".join(t["description"] + ": " + str(t["tags"]) for t in r
    if [g["value"] for g in t["tags"] if g["tag"] == "escopo"] != ["coleta" if "parada" in t["description"] else "cobranca"])')
[ -z "$untagged" ] || fail "triggers without the escopo tag they should have: $untagged"
untagged=$(api problem.get "{\"hostids\": [\"$host_id\"], \"output\": [\"name\"], \"selectTags\": \"extend\"}" |
  py '"; ".join(p["name"] for p in r if {"tag": "escopo", "value": "cobranca"} not in p["tags"])')
[ -z "$untagged" ] || fail "problems without escopo: cobranca: $untagged"

# --- the template's dashboard, as an operator opens it ------------------------------------
# The host's dashboard in the real frontend (in Portuguese, as the provider's staff read it) at
# Debian's PHP memory_limit, one headless Chromium session per page: every widget must have
# drawn its data with no error, the numbers must be run 2's totals. The first page holds what
# scales to any size; the per-customer graphs have a page of their own. IXC_DASHBOARD_SCREENSHOT
# keeps the first page's picture.
api user.update '{"userid": "1", "lang": "pt_BR"}' >/dev/null
dashboard_expected='{"title": "IXC: inadimplência",
  "values": {"Ativos: valor em atraso (R$)": "R$1000190.20", "Ativos: clientes": "4",
             "Ativos: títulos": "6", "Inativos: valor em atraso (R$)": "R$1384.56",
             "Inativos: clientes": "2", "Inativos: títulos": "8"},
  "graphs": {"Valor em atraso (R$)": 1, "Clientes em atraso": 1, "Títulos em atraso": 1}'
# 7.0's template dashboard also lists the host's open problems, the most severe first: a
# customer's problem never pushes a total's (or the collection's) off the widget.
if [ "$IXC_ZBX_VERSION" != 6.0 ]; then
  dashboard_expected+=', "problems": {"Problemas deste host": ['
  dashboard_expected+='"IXC: valor em atraso dos clientes ativos acima de R$ 50000",'
  dashboard_expected+=' "IXC: Padaria Pão Quente Ltda (cliente 1017) deve mais de R$ 100"]}'
fi
dashboard_expected+='}'
view_dashboard() {  # view_dashboard SCREENSHOT EXPECTED_JSON
  /usr/bin/python3 "$tests_dir/support/zabbix_dashboard_view.py" "${IXC_ZBX_API%/api_jsonrpc.php}" \
    Admin zabbix "$host_id" "$@"
}
# No slideshow: it would carry a large provider's screen on to the per-customer page.
[ "$(api templatedashboard.get "{\"templateids\": [\"$template_id\"], \"output\": [\"auto_start\"]}" |
  py 'r[0]["auto_start"]')" = 0 ] || fail "the dashboard starts a slideshow through its pages"
view_dashboard "$work/dashboard.png" "$dashboard_expected" || fail "the host's dashboard"
view_dashboard "$work/dashboard-customers.png" '{"title": "IXC: inadimplência",
  "page": "Por cliente (provedores pequenos)", "graphs": {"Valor em atraso por cliente": 6}}' ||
  fail "the host's dashboard, per-customer page"
[ -z "${IXC_DASHBOARD_SCREENSHOT:-}" ] || cp "$work/dashboard.png" "$IXC_DASHBOARD_SCREENSHOT"

# 1017 pays: the next document no longer lists it. Its items stay, marked for deletion after
# the one day of the discovery rule's lost-resources period; the other customers' stay as they are.
# 2003's amount changes: its new value is stored, and neither its items nor any trigger change
# (discovery would rewrite every changed customer's items each run otherwise). The others send
# the same values again, which the items discard within their heartbeat.
configuration() {
  api item.get "{\"hostids\": [\"$host_id\"], \"search\": {\"key_\": \"Atraso[\"},
    \"output\": [\"key_\", \"name\", \"description\"], \"selectTags\": \"extend\",
    \"selectTriggers\": [\"description\", \"comments\", \"opdata\", \"expression\"]}" |
    py 'json.dumps(sorted(r, key=lambda i: i["key_"]), sort_keys=True)'
}
configuration_before=$(configuration)
sql ixc_erp -e 'UPDATE fn_areceber SET valor_aberto = 0 WHERE id_cliente = 1017;
  UPDATE fn_areceber SET valor_aberto = 0.3 WHERE id_cliente = 2003'
run3_start=$(date +%s)
collect 3
for key in "${totals[@]}"; do wait_until "$patience" "run 3 stored no third value for $key" has_values "$key" 3; done
check_totals 3 4 1000000.5
wait_until "$patience" "run 3 stored no second value for valorAtraso[2003]" has_values 'valorAtraso[2003]' 2
check_value 'valorAtraso[2003]' $float 0.3
marked() {
  api item.get "{\"hostids\": [\"$host_id\"], \"search\": {\"key_\": \"Atraso[\"},
    \"output\": [\"key_\"], \"selectItemDiscovery\": [\"ts_delete\"]}" |
    py '" ".join(sorted(i["key_"] + "=" + i["itemDiscovery"]["ts_delete"] for i in r))'
}
lost_marked() { marked | grep -q 'valorAtraso\[1017\]=[1-9]'; }
wait_until "$patience" "valorAtraso[1017] was not marked as lost after 1017 paid" lost_marked
# Zabbix counts the lost-resources period from the last discovery that still listed the
# customer (run 2's document), not from the one that dropped it, however far apart they are.
python3 - "$(marked)" "$run2_start" "$run3_start" <<'PY' || fail "lost-resource marks after 1017 paid (run 2 at $run2_start, run 3 at $run3_start): $(marked)"
import sys
marks = dict(entry.split("=") for entry in sys.argv[1].split())
last_listed_from, last_listed_until = int(sys.argv[2]), int(sys.argv[3])
assert len(marks) == 12, marks
for key, when in marks.items():
    if key.endswith("[1017]"):
        assert last_listed_from + 86400 - 1 <= int(when) <= last_listed_until + 86400, (key, when)
    else:
        assert when == "0", (key, when)
PY
[ "$(configuration)" = "$configuration_before" ] || fail "an amount change altered the discovered configuration:
$(diff <(py 'json.dumps(r, indent=1)' <<<"$configuration_before") <(configuration | py 'json.dumps(r, indent=1)'))"
for id in 2002 2003 2004 2005 2006; do
  for key in "titulosAtraso[$id]" $([ $id = 2003 ] || echo "valorAtraso[$id]"); do
    [ "$(count_history "$key")" -eq 1 ] || fail "$key stored an unchanged value again: $(history "$key" | tr '\n' ' ')"
  done
done
# --- TLS with a pre-shared key: a second host that accepts PSK only --------------------------
# This host keeps the template's defaults but for {$IXC.ATRASO.CLIENTE.NOME}, which puts a text in
# place of every ERP name: its items and triggers must name customers by id only, and with the
# thresholds off the same ERP must open no problem on it.
# The collector with the PSK settings gets the totals, the document and, from its second run on,
# the per-customer values through, as zabbix_sender does with the same key; a run in clear text
# is refused by the server (the collector does not read the counts, so that run still says OK);
# a wrong key ends the run with status 1 and a diagnostic naming the server.
psk_host=provedor-ixc-psk
psk_identity="ixc-atraso psk teste"
new_key() { python3 -c 'import secrets; print(secrets.token_hex(32))'; }
psk_key=$(new_key)
echo "$psk_key" >"$work/psk.key"
new_key >"$work/wrong.key"
psk_host_id=$(api host.create "{\"host\": \"$psk_host\", \"groups\": [{\"groupid\": \"$group_id\"}],
  \"templates\": [{\"templateid\": \"$template_id\"}], \"tls_connect\": 1, \"tls_accept\": 2,
  \"macros\": [{\"macro\": \"{\$IXC.ATRASO.CLIENTE.NOME}\", \"value\": \"nome oculto\"}],
  \"tls_psk_identity\": \"$psk_identity\", \"tls_psk\": \"$psk_key\"}" | py 'r["hostids"][0]')
psk_send() {  # psk_send KEY VALUE [zabbix_sender options]: zabbix_sender's answer
  local key=$1 value=$2
  shift 2
  zabbix_sender -z 127.0.0.1 -p "$trapper_port" -s "$psk_host" -k "$key" -o "$value" "$@" 2>&1 || true
}
with_psk=(--tls-connect psk --tls-psk-identity "$psk_identity" --tls-psk-file "$work/psk.key")
psk_probe_accepted() { psk_send "ixc.sonda$probes" 1 "${with_psk[@]}" | grep -q 'processed: 1'; }
psk_wait_for_configuration() {
  probes=$((probes + 1))
  api item.create "{\"hostid\": \"$psk_host_id\", \"name\": \"sonda $probes\", \"key_\": \"ixc.sonda$probes\",
    \"type\": 2, \"value_type\": 3}" >/dev/null
  wait_until "$patience" "the server did not take $1 into its configuration" psk_probe_accepted
}
psk_collect() {  # psk_collect NAME KEY_FILE CONNECT EXPECTED_STATUS: one run for the PSK host
  local status=0
  IXC_TEST_ZABBIX_SERVER=127.0.0.1:$trapper_port IXC_TEST_ZABBIX_TLS_CONNECT=$3 \
    IXC_TEST_ZABBIX_TLS_PSK_IDENTITY=$psk_identity IXC_TEST_ZABBIX_TLS_PSK_FILE=$2 \
    "$bin/ixc-atraso-test" descobertaClientes 127.0.0.1 "$IXC_DB_PORT" "$IXC_DB_USER" \
    "$IXC_DB_PASSWORD" ixc_erp "$questdb_address" 9000 "$psk_host" >"$work/$1.out" 2>&1 || status=$?
  [ "$status" -eq "$4" ] || fail "run $1 ended with status $status: $(tail -n 3 "$work/$1.out")"
  [ "$4" -ne 0 ] || [ "$(tail -n 1 "$work/$1.out")" = OK ] || fail "run $1 did not end with OK"
}
on_psk_host() { host_id=$psk_host_id "$@"; }
newest_is() { [ "$(on_psk_host history "$1" | sed -n 1p)" = "$2" ]; }
psk_customers=(2002 2003 2004 2005 2006)  # 1017 paid before run 3
psk_wait_for_configuration "the PSK host"

psk_collect psk1 "$work/psk.key" psk 0
for key in "${totals[@]}"; do
  on_psk_host wait_until "$patience" "no value stored for $key after PSK run 1" has_values "$key" 1
done
on_psk_host check_value somaValorAtrasoAtivo $float 1000000.5
psk_discovered() {
  [ "$(on_psk_host item_table | grep -cE '^(valorAtraso|titulosAtraso)\[')" -eq $((2 * ${#psk_customers[@]})) ]
}
wait_until "$patience" "the discovery did not create the PSK host's items" psk_discovered
# The ERP's names as the first host shows them (one holds a tab and a line break), as JSON.
erp_names=$(py 'json.dumps(sorted({i["name"].split(": ", 1)[1].rsplit(" (cliente", 1)[0] for i in r} - {"não informado"}))' <<<"$items_json")
psk_texts=$(api item.get "{\"hostids\": [\"$psk_host_id\"], \"output\": [\"name\", \"description\"],
  \"selectTriggers\": [\"description\", \"comments\"]}" |
  py '"\n".join(i["name"] + " " + i["description"] + " " + " ".join(t["description"] + " " + t["comments"] for t in i["triggers"]) for i in r)')
for shown in 'Valor em atraso: nome oculto (cliente 2006) ' 'Títulos em atraso: nome oculto (cliente 2003) ' \
  'IXC: nome oculto (cliente 2005) deve mais de R$ '; do
  grep -qF "$shown" <<<"$psk_texts" || fail "the PSK host does not name customers by id only: no '$shown' in
$(grep -E '^(Valor|Títulos) em atraso' <<<"$psk_texts")"
done
shown=$(python3 -c 'import json, sys; t = sys.stdin.read(); print(", ".join(n for n in json.loads(sys.argv[1]) if n in t))' \
  "$erp_names" <<<"$psk_texts")
[ -z "$shown" ] || fail "the PSK host shows ERP names: $shown"
psk_wait_for_configuration "the PSK host's discovered items"
psk_collect psk2 "$work/psk.key" psk 0
for id in "${psk_customers[@]}"; do
  on_psk_host wait_until "$patience" "no value for valorAtraso[$id] after PSK run 2" has_values "valorAtraso[$id]" 1
  on_psk_host wait_until "$patience" "no value for titulosAtraso[$id] after PSK run 2" has_values "titulosAtraso[$id]" 1
done
on_psk_host check_value "valorAtraso[2006]" $float 1234.56

# zabbix_sender with the same identity and key is the reference.
grep -q 'processed: 1' <<<"$(psk_send somaClientesAtrasoAtivo 41 "${with_psk[@]}")" ||
  fail "zabbix_sender with PSK was not processed"
wait_until "$patience" "zabbix_sender's PSK value was not stored" newest_is somaClientesAtrasoAtivo 41

# In clear text the host takes nothing: neither zabbix_sender's value nor the collector's run.
psk_send somaClientesAtrasoAtivo 40 | grep -q 'processed: 0; failed: 1' ||
  fail "the PSK host took a value in clear text"
psk_collect clear "$work/psk.key" unencrypted 0
# A PSK value sent after it is stored after anything that run could have delivered.
grep -q 'processed: 1' <<<"$(psk_send somaClientesAtrasoAtivo 42 "${with_psk[@]}")" ||
  fail "zabbix_sender with PSK was not processed"
wait_until "$patience" "zabbix_sender's second PSK value was not stored" newest_is somaClientesAtrasoAtivo 42
[ "$(on_psk_host count_history somaClientesAtrasoAtivo)" -eq 4 ] &&
  [ "$(on_psk_host count_history somaTitulosAtrasoAtivo)" -eq 2 ] &&
  [ "$(on_psk_host count_history 'valorAtraso[2002]')" -eq 1 ] ||
  fail "the run in clear text stored values on the PSK host"

psk_collect wrong "$work/wrong.key" psk 1
diagnostic=$(tail -n 1 "$work/wrong.out")
[[ $diagnostic == "ixc-atraso: Zabbix 127.0.0.1:$trapper_port: handshake TLS recusado"* ]] ||
  fail "the wrong key's diagnostic does not name the server and the handshake: $diagnostic"
! grep -qiF -e "$psk_key" -e "$(cat "$work/wrong.key")" "$work/wrong.out" || fail "a key shows in the output"
echo "zabbix_server_test: PSK host: $diagnostic"

# --- the check job, launch_verificar, against this server -------------------------------------
# The linked host takes the six totals: every line OK, status 0. A misspelt host name, and the
# PSK host reached in clear text, take none: the Zabbix values line is a FALHA naming the host
# and the likely causes, the run ends with status 1. With the key, the PSK host is OK again.
# No output holds the ERP password or a key.
verify() {  # verify NAME HOST EXPECTED_STATUS [VAR=VALUE...]: one check run, in NAME.out/.err
  local name=$1 host=$2 expected=$3 status=0
  shift 3
  env IXC_TEST_ZABBIX_SERVER=127.0.0.1:$trapper_port "$@" "$bin/ixc-atraso-test" launch_verificar \
    127.0.0.1 "$IXC_DB_PORT" "$IXC_DB_USER" "$IXC_DB_PASSWORD" ixc_erp "$questdb_address" 9000 \
    "$host" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  [ "$status" -eq "$expected" ] ||
    fail "check $name ended with status $status: $(cat "$work/$name.out" "$work/$name.err")"
  ! grep -qF -e "$IXC_DB_PASSWORD" -e "$psk_key" -e "$(cat "$work/wrong.key")" \
    "$work/$name.out" "$work/$name.err" || fail "a password or key shows in check $name's output"
}
zabbix_line() { grep -E "^(OK|AVISO|FALHA) +Zabbix valores: " "$work/$1.out" || true; }
with_psk_env=(IXC_TEST_ZABBIX_TLS_CONNECT=psk "IXC_TEST_ZABBIX_TLS_PSK_IDENTITY=$psk_identity"
  "IXC_TEST_ZABBIX_TLS_PSK_FILE=$work/psk.key")

verify check_linked "$host_name" 0
not_ok=$(grep -vE '^(OK +[^:]+: |Resumo: )' "$work/check_linked.out" || true)
[ -z "$not_ok" ] || fail "check of the linked host has lines not OK:
$not_ok"
[[ $(zabbix_line check_linked) == "OK    Zabbix valores: Zabbix 127.0.0.1:$trapper_port: o host '$host_name' aceitou os 6 totais"* ]] ||
  fail "check of the linked host: $(zabbix_line check_linked)"
! [ -s "$work/check_linked.err" ] || fail "check of the linked host wrote to stderr: $(cat "$work/check_linked.err")"

misspelt=provedor-ixc-tste
verify check_misspelt "$misspelt" 1
[[ $(zabbix_line check_misspelt) == "FALHA Zabbix valores: Zabbix 127.0.0.1:$trapper_port: o host '$misspelt' recusou 6 de 6 totais ("*"causas prováveis: nenhum host de nome '$misspelt'"* ]] ||
  fail "check of a misspelt host: $(zabbix_line check_misspelt)"
[ "$(cat "$work/check_misspelt.err")" = "ixc-atraso: launch_verificar: 1 verificação falhou: Zabbix valores" ] ||
  fail "check of a misspelt host's diagnostic: $(cat "$work/check_misspelt.err")"

verify check_clear "$psk_host" 1
[[ $(zabbix_line check_clear) == "FALHA Zabbix valores: Zabbix 127.0.0.1:$trapper_port: o host '$psk_host' recusou 6 de 6 totais"*"só aceita conexões criptografadas (PSK)"* ]] ||
  fail "check of the PSK host in clear text: $(zabbix_line check_clear)"

verify check_psk "$psk_host" 0 "${with_psk_env[@]}"
grep -qF "handshake aceito" "$work/check_psk.out" || fail "check with PSK: $(cat "$work/check_psk.out")"
[[ $(zabbix_line check_psk) == "OK    Zabbix valores: "*"o host '$psk_host' aceitou os 6 totais"* ]] ||
  fail "check of the PSK host with its key: $(zabbix_line check_psk)"
# The PSK check's totals are stored after anything the clear-text check could have delivered.
on_psk_host wait_until "$patience" "the PSK check's totals were not stored" has_values somaTitulosAtrasoAtivo 3
[ "$(on_psk_host count_history somaClientesAtrasoAtivo)" -eq 5 ] &&
  [ "$(on_psk_host count_history somaTitulosAtrasoAtivo)" -eq 3 ] ||
  fail "the check in clear text stored values on the PSK host"
echo "zabbix_server_test: check job: $(zabbix_line check_misspelt | cut -c1-120)..."
# With the template's defaults the PSK host, fed the same ERP (a million owed by active customers,
# one customer owing a million) and its totals three times over, never opened a problem.
psk_problems=$(api event.get "{\"hostids\": [\"$psk_host_id\"], \"source\": 0, \"object\": 0, \"value\": 1,
  \"output\": [\"name\"]}" | py '"; ".join(e["name"] for e in r)')
[ -z "$psk_problems" ] || fail "the template's defaults opened problems: $psk_problems"

# --- a cluster of two nodes on this database ------------------------------------------------
# A standby node joins the server above (node ixc-a, active). The collector, given both
# addresses, stores a run through the active node; the check job names one node active and one
# standby (a standby does not listen). Then the active node stops gracefully, the standby takes
# over, and the next run stores every value through it, the stopped node first in the setting.
cluster_start=$SECONDS
ixc_start_zabbix_node "$work/zabbix-b" ixc-b || fail "the cluster's second node did not start"
node_a=127.0.0.1:$trapper_port node_b=127.0.0.1:$IXC_ZBX_NODE_PORT
cluster="$node_a;$node_b"
node_is() { [ "$(ixc_zbx_node_status "$1")" = "$2" ]; }
wait_until "$patience" "node ixc-b did not settle as standby" node_is ixc-b standby
node_is ixc-a active || fail "node ixc-a is $(ixc_zbx_node_status ixc-a), not active"
# The run's keys: the six totals and the two values of each customer still owing.
cluster_keys=("${totals[@]}")
for id in "${psk_customers[@]}"; do cluster_keys+=("valorAtraso[$id]" "titulosAtraso[$id]"); done
history_counts() {  # "key count" for every key of cluster_keys, in two history calls
  local items
  items=$(api item.get "{\"hostids\": [\"$host_id\"], \"output\": [\"key_\", \"value_type\"]}")
  for type in $float $unsigned; do
    api history.get "{\"history\": $type, \"hostids\": [\"$host_id\"], \"output\": [\"itemid\"]}"
  done | python3 -c '
import collections, json, sys
items = {i["itemid"]: i["key_"] for i in json.loads(sys.argv[1])}
counts = collections.Counter(items[v["itemid"]] for line in sys.stdin for v in json.loads(line))
print("\n".join(k + " " + str(counts[k]) for k in sys.argv[2:]))' "$items" "${cluster_keys[@]}"
}
# one_more BEFORE [TOTALS]: every key (or only each total) has one value more than in BEFORE.
one_more() {
  [ "$(history_counts)" = "$(awk -v only="${2:-}" '{ print $1, $2 + (only == "" || $1 ~ /^soma/) }' <<<"$1")" ]
}
# totals_one_more BEFORE: each total has one value more than in BEFORE, whatever the customers'.
totals_one_more() {
  [ "$(history_counts | grep '^soma')" = "$(awk '/^soma/ { print $1, $2 + 1 }' <<<"$1")" ]
}
timed_collect() {  # timed_collect N: collect N, its seconds (to 0.01) in run_seconds
  local start
  start=$(date +%s.%N)
  collect "$1"
  run_seconds=$(python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" "$start" "$(date +%s.%N)")
}

before=$(history_counts)
verify check_cluster "$host_name" 0 "IXC_TEST_ZABBIX_SERVER=$cluster"
cluster_line() { grep -E "^(OK|AVISO|FALHA) +Zabbix cluster: " "$work/$1.out" || true; }
[ "$(cluster_line check_cluster)" = "OK    Zabbix cluster: Zabbix $node_a ativo, $node_b em espera (recusa conexões)" ] ||
  fail "check of the cluster: $(cluster_line check_cluster)"
# The check's totals are stored before a run's are counted.
wait_until "$patience" "the cluster check's totals were not stored" one_more "$before" totals

# The customers' values have not changed since run 3, so their items' throttling discards them
# before history: each run shows in history by its six totals, which store every run.
before=$(history_counts)
timed_collect 4
run4_seconds=$run_seconds
wait_until "$patience" "run 4 through the cluster did not store one more value of every total" one_more "$before" totals

# Failover: the delay at its minimum (a node that vanishes without a word waits that long), then
# a graceful stop, which hands over without it.
zabbix_server -c "$IXC_ZBX_CONF" -R ha_set_failover_delay=10s >"$work/failover_delay.out" 2>&1 ||
  fail "ha_set_failover_delay: $(cat "$work/failover_delay.out")"
stop_start=$(date +%s.%N)
ixc_zbx_stop_server "$IXC_ZBX_PID"
! kill -0 "$IXC_ZBX_PID" 2>/dev/null || fail "node ixc-a did not stop"
stopped_at=$(date +%s.%N)
wait_until "$patience" "node ixc-b did not become active after ixc-a stopped" node_is ixc-b active
active_at=$(date +%s.%N)
node_is ixc-a stopped || fail "node ixc-a is $(ixc_zbx_node_status ixc-a), not stopped"
trapper_port=$IXC_ZBX_NODE_PORT  # the probe goes to the new active node
wait_for_configuration "the host on the new active node"
taking_at=$(date +%s.%N)

# The new active node's preprocessing remembers no earlier value, so its throttling lets each
# customer's first value through again: run 5 stores its totals and, unchanged as they are, the
# customers' values too. Only the totals are counted, as the customers' depend on that memory.
before=$(history_counts)
timed_collect 5
run5_seconds=$run_seconds
wait_until "$patience" "run 5 through the new active node did not store one more value of every total" totals_one_more "$before"
echo "zabbix_server_test: run 5 on the new active node stored $(join <(sort <<<"$before") <(history_counts | sort) |
  awk '$1 !~ /^soma/ && $3 > $2' | wc -l) of $((${#cluster_keys[@]} - ${#totals[@]})) unchanged customer values"
verify check_failover "$host_name" 0 "IXC_TEST_ZABBIX_SERVER=$cluster"
[ "$(cluster_line check_failover)" = "OK    Zabbix cluster: Zabbix $node_a em espera (recusa conexões), $node_b ativo" ] ||
  fail "check of the cluster after the failover: $(cluster_line check_failover)"
python3 -c '
import sys
stop, stopped, active, taking = map(float, sys.argv[1:5])
print(f"zabbix_server_test: cluster: ixc-a stopped in {stopped - stop:.1f} s, ixc-b active "
      f"{active - stopped:.1f} s later and taking values {taking - active:.1f} s after that; "
      f"run through the active first node {sys.argv[5]} s, through the second after a refusal "
      f"{sys.argv[6]} s; the cluster part took {sys.argv[7]} s")' \
  "$stop_start" "$stopped_at" "$active_at" "$taking_at" "$run4_seconds" "$run5_seconds" $((SECONDS - cluster_start))
echo "zabbix_server_test: template, discovery, values and triggers as expected"
