# scripts/demo, the README's first command, on this build with a few customers: it shows the
# report, two runs end in OK, its summary matches the ERP, its check job finds all well, and it
# leaves nothing running. It runs beside something that holds the build's Zabbix port and the
# QuestDB stand-in's first address, as on a provider's Zabbix server.
set -euo pipefail

# Holds 127.0.0.1:10051 and 127.0.0.90:9000 where they are free; what already holds them serves
# as well.
python3 - <<'PY' &
import socket, time
held = []
for address in (("127.0.0.1", 10051), ("127.0.0.90", 9000)):
    s = socket.socket()
    try:
        s.bind(address)
        s.listen()
        held.append(s)
    except OSError:
        pass
time.sleep(3600)
PY
holder=$!
trap 'kill "$holder" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/10051) 2>/dev/null && (exec 3<>/dev/tcp/127.0.0.90/9000) 2>/dev/null && break
  sleep 0.1
done

before=$(ls -d /tmp/ixc-demo.* 2>/dev/null | sort || true)
out=$(IXC_BUILD_DIR=$IXC_BUILD_DIR IXC_DEMO_CUSTOMERS=40 IXC_DEMO_SEED=3 "$IXC_SOURCE_DIR/scripts/demo" 2>&1) ||
  { echo "$out"; echo "FAIL: the demo failed"; exit 1; }

fail() {
  echo "$out"
  echo "FAIL: $*"
  exit 1
}
[ "$(grep -cx OK <<<"$out")" = 2 ] || fail "expected OK from both normal runs"
grep -q "Clientes em Atraso" <<<"$out" || fail "no debug report"
grep -q "the last one listing 40 customers; the ERP itself has 40 customers" <<<"$out" ||
  fail "the discovery document does not list the ERP's overdue customers"
grep -Eq "^ +80 valorAtraso\[id\] values" <<<"$out" || fail "two runs should send 80 valorAtraso values"
grep -Eq "^ +12 totals" <<<"$out" || fail "two runs should send 12 totals"
grep -Eq "^ +40 rows in ixcClientes " <<<"$out" || fail "the snapshot should hold 40 rows"
grep -Eq "^ +2 rows in ixcClientesSoma" <<<"$out" || fail "the history should hold 2 rows"
# It ends with the check job against its own servers: all well, and no password shown.
grep -qx "Resumo: 14 verificações, 14 OK, 0 AVISO, 0 FALHA" <<<"$out" ||
  fail "the demo's check job did not end with every check OK"
grep -q "^OK    Zabbix valores: .*o host 'provedor-demo' aceitou os 6 totais" <<<"$out" ||
  fail "the check job's Zabbix values line"
password=$(sed -n "s/^IXC_DB_PASSWORD='\(.*\)'$/\1/p" "$IXC_SOURCE_DIR/bench/servers.sh")
[ -n "$password" ] && ! grep -qF "$password" <<<"$out" || fail "the demo shows the ERP password"

case $(sed -n 's/^IXC_ZABBIX_SERVER:[A-Z]*=//p' "$IXC_BUILD_DIR/CMakeCache.txt") in
  127.0.0.1 | 127.0.0.1:10051 | localhost | localhost:10051)
    grep -q "something already listens on 127.0.0.1:10051" <<<"$out" ||
      fail "the demo did not say that it runs beside what holds 127.0.0.1:10051"
    grep -q '^\$ bin/ixc-atraso-test ' <<<"$out" || fail "beside a Zabbix server the demo should run the test build"
    ;;
esac

# Nothing left behind: no listener on the stand-ins' addresses, no throwaway folder.
trapper=$(sed -n 's/^Zabbix trapper *\([0-9.]*:[0-9]*\) .*/\1/p' <<<"$out")
questdb=$(sed -n 's/^QuestDB *\([0-9.]*:[0-9]*\) .*/\1/p' <<<"$out")
[ -n "$trapper" ] && [ "$trapper" != 127.0.0.1:10051 ] || fail "the trapper stand-in is at '$trapper'"
[ -n "$questdb" ] && [ "$questdb" != 127.0.0.90:9000 ] || fail "the QuestDB stand-in is at '$questdb'"
for address in "${trapper/://}" "${questdb/://}"; do
  if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then fail "something still listens on $address"; fi
done
after=$(ls -d /tmp/ixc-demo.* 2>/dev/null | sort || true)
[ "$before" = "$after" ] || fail "the demo left a folder behind: $after"
echo "ok"
