# bench/run on this build at tiny sizes, one run each: against the stand-ins, every row of the
# table gets a number and the phase clock counts every value sent; against a real Zabbix server
# that syncs its configuration every second (--zabbix-server), every row gets a figure, every
# second-run value is stored, the server survives and the frontend draws everything; through a
# Zabbix proxy (--proxy), every run's values are stored. Nothing is left running or on disk.
set -euo pipefail

ports_free() {
  local address
  for address in 127.0.0.91/9000 127.0.0.91/9009; do
    if (exec 3<>"/dev/tcp/$address") 2>/dev/null; then return 1; fi
  done
}
if ! ports_free; then
  echo "skipped: 127.0.0.91 is taken (another benchmark running?)"
  exit 0
fi

out=
fail() {
  echo "$out"
  echo "FAIL: $*"
  exit 1
}
# The first table of the output: from its header to the first empty line (the frontend's table
# or the exchanges with QuestDB follow).
first_table() { awk '/^customers with overdue receivables/ { on = 1 } on && /^$/ { exit } on' <<<"$out"; }
# check_table: that table holds 25 rows or more, each with a figure (a target may follow).
check_table() {
  local row figure
  table=$(first_table)
  [ "$(wc -l <<<"$table")" -ge 25 ] || fail "the table is incomplete"
  while IFS= read -r row; do
    figure=$(cut -c45-56 <<<"$row" | tr -d ' ')
    [[ $figure =~ ^[0-9]+(\.[0-9]+)?$|^yes$ ]] || fail "no figure in: $row"
  done < <(tail -n +2 <<<"$table")
}
check_cleaned_up() {
  ports_free || fail "something still listens on 127.0.0.91"
  if ls -d "$IXC_BUILD_DIR"/bench-run.* >/dev/null 2>&1; then fail "bench/run left its folder behind"; fi
  if pgrep -f "$IXC_BUILD_DIR/bench-run" >/dev/null; then fail "a server of the benchmark still runs"; fi
}

out=$(IXC_BENCH_BUILD_DIR=$IXC_BUILD_DIR "$IXC_SOURCE_DIR/bench/run" --runs 1 150 2>&1) ||
  fail "bench/run failed"
check_table
grep -Eq "^values sent to Zabbix +307( |$)" <<<"$table" || fail "expected 2 x 150 + 7 values"
grep -Eq "^  debug run / bare statement +[0-9]" <<<"$table" || fail "no debug ratio"
check_cleaned_up

out=$(IXC_BENCH_BUILD_DIR=$IXC_BUILD_DIR IXC_BENCH_ZABBIX_SETTINGS=CacheUpdateFrequency=1 \
  "$IXC_SOURCE_DIR/bench/run" --zabbix-server --runs 1 40 2>&1) ||
  fail "bench/run --zabbix-server failed"
check_table
grep -Eq "^second-run values stored \(%\) +100\.0( |$)" <<<"$table" || fail "second-run values were lost"
grep -Eq "^server still running +yes( |$)" <<<"$table" || fail "the Zabbix server died"
# The frontend's table: at this size everything draws at the stock memory_limit.
grep -Eq "^dashboard, first page: all widgets drawn \(s\) +[0-9.]+ " <<<"$out" || fail "the dashboard did not draw"
grep -Eq "^  smallest memory_limit that draws it +128M in [0-9.]+ s" <<<"$out" ||
  fail "the per-customer page did not draw at 128M"
grep -Eq "^  smallest memory_limit that opens it +128M in [0-9.]+ s" <<<"$out" ||
  fail "Latest data did not open at 128M"
check_cleaned_up

# Through a proxy: every run's values, sent to the server and then to the proxy, reach the
# server's history, and both servers survive.
out=$(IXC_BENCH_BUILD_DIR=$IXC_BUILD_DIR IXC_BENCH_ZABBIX_SETTINGS=CacheUpdateFrequency=1 \
  "$IXC_SOURCE_DIR/bench/run" --zabbix-server --proxy --runs 1 40 2>&1) ||
  fail "bench/run --zabbix-server --proxy failed"
table=$(first_table)
grep -Eq "^  delay until all in the server's history +[0-9.]+( |$)" <<<"$table" || fail "no delay for a run"
grep -Eq "^fewest values stored by a run \(of 2N \+ 6\) +86( |$)" <<<"$table" || fail "values were lost"
grep -Eq "^server and proxy still running +yes( |$)" <<<"$table" || fail "the server or the proxy died"
check_cleaned_up
echo "ok"
