# scripts/demo, the README's first command, on this build with a few customers: it shows the
# report, two runs end in OK, its summary matches the ERP, its check job finds all well, and it
# leaves nothing running.
set -euo pipefail

if (exec 3<>/dev/tcp/127.0.0.1/10051) 2>/dev/null; then
  echo "skipped: 127.0.0.1:10051 is taken, the demo would refuse to start"
  exit 0
fi
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

# Nothing left behind: no listener on the stand-ins' ports, no throwaway folder.
for address in 127.0.0.1/10051 127.0.0.90/9000; do
  if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then fail "something still listens on $address"; fi
done
after=$(ls -d /tmp/ixc-demo.* 2>/dev/null | sort || true)
[ "$before" = "$after" ] || fail "the demo left a folder behind: $after"
echo "ok"
