#!/usr/bin/env bash
# When the per-customer problem opens and closes, and how many of a customer's values the real
# Zabbix server (6.0 on Debian 12, 7.0 on Debian 13) stores, with the template's own items,
# preprocessing and trigger, on a time scale shrunk so that a day's rules show in minutes.
#
#   bench/customer_problem_delay.sh
#
# One customer owes more than its limit. Every INTERVAL seconds a "run" sends what the collector
# sends for it (the discovery document, its amount, its titles, unchanged), RUNS times; then the
# customer pays: the next runs list another customer only. Printed: values sent and stored per
# item, the gaps between stored values, whether the problem opened and stayed open while the
# customer owed, and how long after the last run that listed the customer (and after its last
# stored value) the problem closed.
#
# IXC_DELAY_INTERVAL   seconds between runs (default 10: a 5-minute schedule shrunk 30 times)
# IXC_DELAY_HEARTBEAT  {$IXC.ATRASO.CLIENTE.HEARTBEAT} on the host (default 60s: 30m / 30)
# IXC_DELAY_NODATA     {$IXC.ATRASO.CLIENTE.NODATA} and {$IXC.ATRASO.NODATA} on the host
#                      (default 120s: 1h / 30; nodata() takes 30 s at least)
# IXC_DELAY_RUNS       runs while the customer owes (default 24)
# IXC_DELAY_TEMPLATE   another template file (the shipped one for the server's version by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
IXC_ROOT=$root
IXC_BIN=${IXC_BIN:-$root/build/bin}
export PATH=$PATH:/usr/sbin:/sbin
# shellcheck source=servers.sh
source "$root/bench/servers.sh"
# shellcheck source=zabbix_server.sh
source "$root/bench/zabbix_server.sh"
interval=${IXC_DELAY_INTERVAL:-10}
heartbeat=${IXC_DELAY_HEARTBEAT:-60s}
nodata=${IXC_DELAY_NODATA:-120s}
runs=${IXC_DELAY_RUNS:-24}

work=$(mktemp -d /tmp/ixc-problem-delay.XXXXXX)
cleanup() {
  [ -z "${IXC_ZBX_PID:-}" ] || ixc_stop_zabbix
  ixc_stop_all
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

mkdir "$work/mariadb"
ixc_start_mariadb "$work/mariadb" 256M
ixc_start_zabbix "$work/zabbix" CacheUpdateFrequency=1 StartTrappers=2 StartPreprocessors=1 \
  StartLLDProcessors=1 StartDBSyncers=1 StartTimers=1 StartPollers=0 StartPollersUnreachable=0 \
  StartHistoryPollers=0
template=${IXC_DELAY_TEMPLATE:-$(ixc_zbx_template_file)}
template_id=$(ixc_zbx_import_template "$template")
j() { python3 -c "import json, sys; r = json.load(sys.stdin); print($1)"; }
group=$(ixc_zbx_api hostgroup.create '{"name": "ixc-delay"}' | j 'r["groupids"][0]')
host=$(ixc_zbx_api host.create "{\"host\": \"ixc-delay\", \"groups\": [{\"groupid\": \"$group\"}],
  \"templates\": [{\"templateid\": \"$template_id\"}],
  \"macros\": [{\"macro\": \"{\$IXC.ATRASO.CLIENTE.HEARTBEAT}\", \"value\": \"$heartbeat\"},
               {\"macro\": \"{\$IXC.ATRASO.CLIENTE.NODATA}\", \"value\": \"$nodata\"},
               {\"macro\": \"{\$IXC.ATRASO.NODATA}\", \"value\": \"$nodata\"},
               {\"macro\": \"{\$IXC.ATRASO.CLIENTE.VALOR.MAX}\", \"value\": \"100\"}]}" | j 'r["hostids"][0]')
echo "customer_problem_delay: Zabbix $IXC_ZBX_VERSION, $template; a run every ${interval}s," \
  "heartbeat $heartbeat, nodata $nodata"

send() {  # send LINES: zabbix_sender -i with "host key value" lines; prints its summary
  printf '%s\n' "$@" >"$work/send"
  zabbix_sender -z 127.0.0.1 -p "$IXC_ZBX_PORT" -i "$work/send" 2>&1 | grep -o 'processed: [0-9]*; failed: [0-9]*' | head -n1 || true
}
doc() { printf '"{\\"data\\": [{\\"{#ID_CLIENTE}\\": %s, \\"{#RAZAO_SOCIAL}\\": \\"Cliente %s\\", \\"{#CPF_CNPJ}\\": null, \\"{#STATUS_CLIENTE}\\": 1, \\"{#CONTATO_CLIENTE}\\": \\"N/A\\", \\"{#VALOR_ATRASO}\\": 500.0, \\"{#TITULOS_ATRASO}\\": 2}]}"' "$1" "$1"; }
run_owing() { send "ixc-delay descobertaClientes $(doc 1)" "ixc-delay valorAtraso[1] 500.0" "ixc-delay titulosAtraso[1] 2" \
  "ixc-delay somaClientesAtrasoAtivo 1"; }
run_paid() { send "ixc-delay descobertaClientes $(doc 2)" "ixc-delay somaClientesAtrasoAtivo 1"; }
trigger() {
  ixc_zbx_api trigger.get "{\"hostids\": [\"$host\"], \"search\": {\"description\": \"deve mais\"},
    \"output\": [\"value\"]}" | j '(r[0]["triggerid"] + " " + r[0]["value"]) if r else "- -"'
}
problem() { trigger | cut -d' ' -f2; }
items_exist() {
  [ "$(ixc_zbx_api item.get "{\"hostids\": [\"$host\"], \"search\": {\"key_\": \"Atraso[1]\"}, \"output\": [\"itemid\"]}" | j 'len(r)')" = 2 ]
}
for ((i = 0; i < 120; i++)); do [[ $(send "ixc-delay somaClientesAtrasoAtivo 0") == "processed: 1"* ]] && break; sleep 1; done
send "ixc-delay descobertaClientes $(doc 1)" >/dev/null
for ((i = 0; i < 120; i++)); do items_exist && break; sleep 1; done
sleep 3  # the next configuration sync brings the items to the trappers

# Whole milliseconds of the wall clock, without a process per look (the machine may be busy).
now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }
first=$EPOCHREALTIME first_ms=$(now_ms)
sent=0
for ((r = 0; r < runs; r++)); do
  next=$((first_ms + (r + 1) * interval * 1000))
  [[ $(run_owing) == "processed: 4"* ]] && sent=$((sent + 1))
  last_owing=$EPOCHREALTIME
  while [ "$(now_ms)" -lt "$next" ]; do sleep 0.2; done
done
closed_at=
while [ -z "$closed_at" ] && [ $(($(now_ms) / 1000 - ${last_owing%[.,]*})) -lt 3600 ]; do
  run_paid >/dev/null
  next=$(($(now_ms) + interval * 1000))
  while [ "$(now_ms)" -lt "$next" ]; do
    if [ "$(problem)" = 0 ]; then closed_at=$EPOCHREALTIME; break; fi
    sleep 0.5
  done
done
stored() {  # stored KEY TYPE: the clocks of the stored values, one a line
  local id
  id=$(ixc_zbx_api item.get "{\"hostids\": [\"$host\"], \"filter\": {\"key_\": \"$1\"}, \"output\": [\"itemid\"]}" | j 'r[0]["itemid"]')
  ixc_zbx_api history.get "{\"history\": $2, \"itemids\": [\"$id\"], \"output\": [\"clock\", \"ns\"], \"sortfield\": \"clock\"}" |
    j '"\n".join(v["clock"] + "." + v["ns"].zfill(9) for v in r)'
}
valor=$(stored 'valorAtraso[1]' 0)
titulos=$(stored 'titulosAtraso[1]' 3)
# The trigger's events, as the server stamped them: when the problem opened and closed.
events=$(ixc_zbx_api event.get "{\"objectids\": [\"$(trigger | cut -d' ' -f1)\"], \"source\": 0, \"object\": 0,
  \"output\": [\"clock\", \"ns\", \"value\"], \"sortfield\": [\"clock\"]}" |
  j '" ".join(e["value"] + "@" + e["clock"] + "." + e["ns"].zfill(9) for e in r)')
python3 - "$sent" "$valor" "$titulos" "$last_owing" "$events" <<'PY'
import sys
sent, valor, titulos, last_owing, events = sys.argv[1:]
valor = [float(c) for c in valor.split()]
titulos = [float(c) for c in titulos.split()]
last_owing = float(last_owing.replace(",", "."))
events = [(e.split("@")[0], float(e.split("@")[1])) for e in events.split()]
gaps = [round(b - a, 1) for a, b in zip(valor, valor[1:])]
print(f"runs that listed the customer: {sent}; stored: valorAtraso {len(valor)}, titulosAtraso {len(titulos)}")
print(f"gaps between stored valorAtraso values (s): {gaps}")
opened = [t for v, t in events if v == "1"]
closed_owing = [t for v, t in events if v == "0" and t <= last_owing]
closed = [t for v, t in events if v == "0" and t > last_owing]
print(f"problem opened {opened[0] - valor[0]:.1f} s after the first stored value" if opened else "problem never opened",
      f"and closed {len(closed_owing)} times while the customer owed")
if closed:
    print(f"problem closed {closed[0] - last_owing:.1f} s after the last run that listed the customer, "
          f"{closed[0] - valor[-1]:.1f} s after its last stored value")
else:
    print("problem did not close within an hour")
PY
