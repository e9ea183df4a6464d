#!/usr/bin/env bash
# The largest discovery document the template's discovery rule takes on this release's real
# Zabbix server (6.0 on Debian 12, 7.0 on Debian 13), with customers whose name or CPF/CNPJ the
# ERP left empty (a null macro), in the collector's own JSON form (Python's json.dumps: ', ' and
# ': ', ASCII with \uXXXX escapes, as src/discovery/discovery_document.cpp writes it).
#
#   bench/discovery_ceiling.sh [CUSTOMERS...]     default: 100000 300000
#
# A host holds only the template's discovery rule, with the rule's preprocessing steps as the
# template file has them (no prototypes: what is measured is the rule, not the items). For each
# size the rule is first made to fail on purpose (a value that is not JSON), then the document is
# sent in one sender frame; the rule is supported again once the server has processed it, or
# shows why it could not. Prints per size: the document's bytes, the answer, the rule's state and
# error, the seconds until the state changed and the largest resident memory of the
# preprocessing and discovery processes meanwhile.
#
# IXC_CEILING_TEMPLATE   another template file whose rule steps to measure (the shipped one for
#                        the server's version by default)
# IXC_CEILING_NULLS      share of customers with a null name and a null CPF/CNPJ (default 0.01)
# IXC_CEILING_PATIENCE   seconds to wait for the rule's verdict (default 600)
# IXC_CEILING_FRAME=1    then probes the largest frame the trapper reads (minutes past 64 MiB)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
IXC_ROOT=$root
IXC_BIN=${IXC_BIN:-$root/build/bin}
export PATH=$PATH:/usr/sbin:/sbin
# shellcheck source=servers.sh
source "$root/bench/servers.sh"
# shellcheck source=zabbix_server.sh
source "$root/bench/zabbix_server.sh"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 300000)
nulls=${IXC_CEILING_NULLS:-0.01}
patience=${IXC_CEILING_PATIENCE:-600}

work=$(mktemp -d /tmp/ixc-discovery-ceiling.XXXXXX)
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
  StartLLDProcessors=1 StartDBSyncers=1 StartPollers=0 StartPollersUnreachable=0 \
  StartHistoryPollers=0 CacheSize=256M
template=${IXC_CEILING_TEMPLATE:-$(ixc_zbx_template_file)}
echo "discovery_ceiling: Zabbix $IXC_ZBX_VERSION, rule steps of $template, nulls $nulls"

group=$(ixc_zbx_api hostgroup.create '{"name": "ixc-ceiling"}' | python3 -c 'import json,sys; print(json.load(sys.stdin)["groupids"][0])')
host=$(ixc_zbx_api host.create "{\"host\": \"ixc-ceiling\", \"groups\": [{\"groupid\": \"$group\"}]}" |
  python3 -c 'import json,sys; print(json.load(sys.stdin)["hostids"][0])')
# The rule's steps, from the template file, in the API's numbers.
rule=$(python3 - "$template" "$host" <<'PY'
import json, re, sys
# The template's own layout, read without a YAML module (Debian 13's minimal python3 has none):
# the rule's keys sit at 10 spaces, its steps at 12, a step's parameters at 16.
types = {"JAVASCRIPT": 21, "STR_REPLACE": 25}
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
start = lines.index("      discovery_rules:")
key = next(l.split(": ", 1)[1] for l in lines[start:] if l.startswith("          key: "))
steps, i = [], next(n for n in range(start, len(lines)) if lines[n] == "          preprocessing:") + 1
while i < len(lines) and (lines[i].startswith("            ") or not lines[i].strip()):
    line = lines[i]
    if line.startswith("            - type: "):
        steps.append({"type": types[line.split(": ", 1)[1]], "params": [], "error_handler": 0,
                      "error_handler_params": ""})
    elif line.startswith("                - |"):
        block = []
        while i + 1 < len(lines) and (lines[i + 1].startswith("                  ") or not lines[i + 1].strip()):
            i += 1
            block.append(lines[i][18:])
        steps[-1]["params"].append("\n".join(block).rstrip("\n") + "\n")
    elif line.startswith("                - "):
        text = line[18:]
        steps[-1]["params"].append(text[1:-1].replace("''", "'") if text.startswith("'") else text)
    i += 1
for step in steps:
    step["params"] = "\n".join(step["params"])
print(json.dumps({"hostid": sys.argv[2], "name": "Clientes em atraso", "key_": key.strip("'"), "type": 2,
                  "lifetime": "1d", "preprocessing": steps}))
PY
)
rule_id=$(ixc_zbx_api discoveryrule.create "$rule" | python3 -c 'import json,sys; print(json.load(sys.stdin)["itemids"][0])')

# send FILE: the file's text as the rule's value, in one sender frame; prints the answer.
send() {
  python3 - "$IXC_ZBX_PORT" "$1" <<'PY'
import json, socket, struct, sys
value = open(sys.argv[2], encoding="ascii").read()
body = json.dumps({"request": "sender data", "data": [
    {"host": "ixc-ceiling", "key": "descobertaClientes", "value": value}]}).encode()
# The whole frame before connecting: the trapper gives up on a peer whose first bytes are late.
frame = b"ZBXD\x01" + struct.pack("<II", len(body), 0) + body
reply = b""
try:
    with socket.create_connection(("127.0.0.1", int(sys.argv[1]))) as s:
        s.sendall(frame)
        while chunk := s.recv(65536):
            reply += chunk
except OSError as e:
    print(f"{len(body)}-byte frame: {e.strerror}")
    sys.exit()
print(json.loads(reply[13:])["info"].split("; seconds")[0] if len(reply) > 13 else "no answer")
PY
}
rule_state() {
  ixc_zbx_api discoveryrule.get "{\"itemids\": [\"$rule_id\"], \"output\": [\"state\", \"error\"]}" |
    python3 -c 'import json,sys; r = json.load(sys.stdin)[0]; print(r["state"], r["error"][:160].replace("\n", " | "))'
}
# The largest resident set (MB) of the server's preprocessing and discovery processes now.
peak_rss() {
  ps -o rss=,args= --ppid "$IXC_ZBX_PID" | awk '/preprocessing|lld/ { if ($1 > m) m = $1 } END { printf "%d", m / 1024 }'
}
wait_state() {  # wait_state STATE: until the rule's state line is no longer STATE
  local deadline=$((SECONDS + patience)) peak=0 rss state
  while :; do
    rss=$(peak_rss)
    [ "$rss" -le "$peak" ] || peak=$rss
    state=$(rule_state)
    [ "$state" = "$1" ] || break
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.5
  done
  echo "$state|$peak"
}

# Waits until the server knows the new host and rule.
echo 'not json' >"$work/bad"
for ((i = 0; i < 120; i++)); do
  [[ $(send "$work/bad") == "processed: 1"* ]] && break
  sleep 1
done

printf '%-10s %-8s %-24s %-8s %-8s %s\n' customers MB answer seconds peak_MB "rule (0 = supported, 1 = not supported: error)"
for n in "${sizes[@]}"; do
  python3 - "$n" "$nulls" "$work/doc" <<'PY'
import json, random, sys
n, share, path = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
rng = random.Random(n)
first = ["José", "Maria", "Antônio", "Francisca", "João", "Conceição", "Raimundo", "Lúcia"]
last = ["da Silva", "Araújo", "Gonçalves", "Ribeiro", "Conceição Magalhães", "Câmara Cascudo"]
every = max(1, round(1 / share)) if share > 0 else 0
rows = []
for i in range(n):
    empty = every and i % every == every // 2
    name = None if empty else f"{rng.choice(first)} {rng.choice(last)} {rng.choice(last)} Comércio de Alimentos ME"
    cpf = None if empty else f"{rng.randrange(10**11):011d}"
    rows.append({"{#ID_CLIENTE}": 100000 + i, "{#RAZAO_SOCIAL}": name, "{#CPF_CNPJ}": cpf,
                 "{#STATUS_CLIENTE}": 1, "{#CONTATO_CLIENTE}": "(85) 9 9999-0000",
                 "{#VALOR_ATRASO}": round(rng.uniform(10, 900), 2), "{#TITULOS_ATRASO}": rng.randrange(1, 9)})
with open(path, "w", encoding="ascii") as f:
    f.write(json.dumps({"data": rows}))
PY
  bytes=$(stat -c %s "$work/doc")
  # The verdict on the document is whatever state line replaces the one of the failed value.
  send "$work/bad" >/dev/null
  until [[ $(rule_state) == "1 "*"expected opening character"* ]]; do sleep 0.5; done
  start=$SECONDS
  answer=$(send "$work/doc")
  if [[ $answer != processed* ]]; then
    printf '%-10s %-8s %s; the server: %s\n' "$n" "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')" \
      "$answer" "$(grep -m1 -iE 'exceed|too (big|large)' "$IXC_ZBX_LOG" | cut -c1-200 || echo '-')"
    continue
  fi
  IFS='|' read -r state peak < <(wait_state "$(rule_state)")
  printf '%-10s %-8s %-24s %-8s %-8s %s\n' "$n" "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')" \
    "$answer" $((SECONDS - start)) "$peak" "$state"
done

# The largest sender frame the trapper reads, whatever it holds: a value of N bytes for a host
# that does not exist, answered (failed: 1) or cut off; halved between 64 and 512 MiB to 1 MiB.
# Slow (each try is parsed whole), so only when asked.
[ "${IXC_CEILING_FRAME:-0}" = 1 ] || exit 0
python3 - "$IXC_ZBX_PORT" <<'PY'
import json, socket, struct, sys
def answered(size):
    head = json.dumps({"request": "sender data", "data": [{"host": "-", "key": "-", "value": ""}]})
    body = (head[:-4] + "a" * (size - len(head)) + head[-4:]).encode()
    frame = b"ZBXD\x01" + struct.pack("<II", len(body), 0) + body
    try:
        with socket.create_connection(("127.0.0.1", int(sys.argv[1]))) as s:
            s.sendall(frame)
            return len(s.recv(65536)) > 13
    except OSError:
        return False
low, high = 64 << 20, 512 << 20
while high - low > 1 << 20:
    middle = (low + high) // 2
    low, high = (middle, high) if answered(middle) else (low, middle)
print(f"largest frame the trapper reads: between {low} and {high} bytes of JSON")
PY
