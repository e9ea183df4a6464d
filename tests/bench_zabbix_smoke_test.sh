# bench/run --zabbix-server on this build at a tiny size, one run each, against a real Zabbix
# server that syncs its configuration every second: every row of the table gets a figure, every
# second-run value is stored, the server survives, and nothing is left running or on disk.
set -euo pipefail

for address in 127.0.0.91/9000 127.0.0.91/9009; do
  if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then
    echo "skipped: $address is taken (another benchmark running?)"
    exit 0
  fi
done
out=$(IXC_BENCH_BUILD_DIR=$IXC_BUILD_DIR IXC_BENCH_ZABBIX_SETTINGS=CacheUpdateFrequency=1 \
  "$IXC_SOURCE_DIR/bench/run" --zabbix-server --runs 1 40 2>&1) ||
  { echo "$out"; echo "FAIL: bench/run --zabbix-server failed"; exit 1; }

fail() {
  echo "$out"
  echo "FAIL: $*"
  exit 1
}
table=$(sed -n '/^customers with overdue receivables/,$p' <<<"$out")
[ "$(wc -l <<<"$table")" -ge 25 ] || fail "the table is incomplete"
while IFS= read -r row; do
  figure=$(cut -c45-56 <<<"$row" | tr -d ' ')
  [[ $figure =~ ^[0-9]+(\.[0-9]+)?$|^yes$ ]] || fail "no figure in: $row"
done < <(tail -n +2 <<<"$table")
grep -Eq "^second-run values stored \(%\) +100\.0( |$)" <<<"$table" || fail "second-run values were lost"
grep -Eq "^server still running +yes( |$)" <<<"$table" || fail "the Zabbix server died"

for address in 127.0.0.91/9000 127.0.0.91/9009; do
  if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then fail "something still listens on $address"; fi
done
if ls -d "$IXC_BUILD_DIR"/bench-run.* >/dev/null 2>&1; then fail "bench/run left its folder behind"; fi
if pgrep -f "$IXC_BUILD_DIR/bench-run" >/dev/null; then fail "a server of the benchmark still runs"; fi
echo "ok"
