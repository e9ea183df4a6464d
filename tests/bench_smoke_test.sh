# bench/run on this build at a tiny size, one run each: every row of the table gets a number,
# the phase clock counts every value sent, and nothing is left running or on disk.
set -euo pipefail

for address in 127.0.0.91/9000 127.0.0.91/9009; do
  if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then
    echo "skipped: $address is taken (another benchmark running?)"
    exit 0
  fi
done
out=$(IXC_BENCH_BUILD_DIR=$IXC_BUILD_DIR "$IXC_SOURCE_DIR/bench/run" --runs 1 150 2>&1) ||
  { echo "$out"; echo "FAIL: bench/run failed"; exit 1; }

fail() {
  echo "$out"
  echo "FAIL: $*"
  exit 1
}
table=$(sed -n '/^customers with overdue receivables/,$p' <<<"$out")
[ "$(wc -l <<<"$table")" -ge 25 ] || fail "the table is incomplete"
# Every row but the heading ends its figures with a number (a target may follow).
while IFS= read -r row; do
  figure=$(cut -c45-56 <<<"$row" | tr -d ' ')
  [[ $figure =~ ^[0-9]+(\.[0-9]+)?$ ]] || fail "no figure in: $row"
done < <(tail -n +2 <<<"$table")
grep -Eq "^values sent to Zabbix +307( |$)" <<<"$table" || fail "expected 2 x 150 + 7 values"
grep -Eq "^  debug run / bare statement +[0-9]" <<<"$table" || fail "no debug ratio"

for address in 127.0.0.91/9000 127.0.0.91/9009; do
  if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then fail "something still listens on $address"; fi
done
if ls -d "$IXC_BUILD_DIR"/bench-run.* >/dev/null 2>&1; then fail "bench/run left its folder behind"; fi
echo "ok"
