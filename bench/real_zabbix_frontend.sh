# bench/run --zabbix-server: what the operator's frontend does with the host at each size,
# sourced after real_zabbix.sh and called once every discovered item has a value. All in headless
# Chromium or curl against the frontend under `php -S` with Debian's PHP settings:
# - the template dashboard's first page at the stock memory_limit (128M): seconds from opening it
#   until every widget has drawn, and any widget fault (the page's own messages, a widget still
#   spinning, HTTP 5xx answers to widget requests in the frontend's log);
# - the per-customer page and Latest data for the host: drawn or not at 128M, and the smallest of
#   128M, 256M, 512M, 1G, 2G at which they are (each limit in a frontend of its own on the same
#   server), with the time at that limit;
# - what an operator uses for one customer instead, at 128M: Latest data filtered by the
#   customer's id, and that customer's item graph; and the host's Problems page;
# - the text PHP writes when the memory limit is hit.

frontend_limits=(128M 256M 512M 1G 2G)
dashboard_title='IXC: inadimplência'
customers_page='Por cliente (provedores pequenos)'

# frontend_dashboard URL PAGE PATIENCE LOG: "SECONDS" when every widget of that page (empty: the
# first) drew in PATIENCE seconds with no fault and no 5xx answer in LOG, otherwise "no".
frontend_dashboard() {
  local url=$1 page=$2 patience=$3 log=$4 expected before out
  if [ -z "$page" ]; then
    expected="{\"title\": \"$dashboard_title\", \"graphs\": {\"Valor em atraso (R$)\": 1,
      \"Clientes em atraso\": 1, \"Títulos em atraso\": 1}}"
  else
    expected="{\"title\": \"$dashboard_title\", \"page\": \"$page\",
      \"graphs\": {\"Valor em atraso por cliente\": 6}}"
  fi
  before=$(frontend_failures "$log")
  if out=$(IXC_ZABBIX_PATIENCE=$patience /usr/bin/python3 "$IXC_ROOT/tests/support/zabbix_dashboard_view.py" \
    "$url" Admin zabbix "$real_host_id" "$work/dashboard.png" "$expected" 2>&1) &&
    [ "$(frontend_failures "$log")" = "$before" ]; then
    sed -n 's/.* drawn in \([0-9.]*\) s.*/\1/p' <<<"$out"
  else
    echo "no"
    { echo "frontend: ${page:-first page} at $url:"; cut -c1-300 <<<"$out" | head -3
      frontend_failure_lines "$log" | tail -n 2; } >&2
  fi
}

frontend_failures() { grep -cE '\[5[0-9][0-9]\]:' "$1" || true; }
frontend_failure_lines() { grep -E '\[5[0-9][0-9]\]:|Allowed memory size' "$1" | sort -u || true; }

# frontend_page URL PATH TEXT: "SECONDS" when PATH answers 200 with TEXT in it within 120 s
# (logged in as Admin), otherwise "HTTP CODE".
frontend_page() {
  local url=$1 path=$2 text=$3 jar=$work/cookies status
  rm -f "$jar"
  curl -sS -o /dev/null -c "$jar" --max-time 60 -d name=Admin -d password=zabbix \
    --data-urlencode 'enter=Sign in' "$url/index.php" || { echo "login failed"; return; }
  status=$(curl -sS -b "$jar" -o "$work/page.html" -w '%{http_code} %{time_total}' --max-time 120 \
    "$url/$path" 2>/dev/null) || status="timeout"
  if [ "${status%% *}" = 200 ] && grep -qF "$text" "$work/page.html"; then
    awk -v t="${status#* }" 'BEGIN { printf "%.2f", t }'
  else
    echo "HTTP ${status%% *}"
  fi
}

# frontend_smallest_limit CHECK...: "LIMIT in SECONDS s" for the smallest limit at which CHECK
# (called with URL LOG) prints a time, or "over 2G".
frontend_smallest_limit() {
  local limit got
  for limit in "${frontend_limits[@]}"; do
    ixc_zbx_frontend "$folder" "$limit" "$work/php-$limit.log"
    frontend_wait "$IXC_ZBX_FRONTEND_URL"
    got=$("$@" "$IXC_ZBX_FRONTEND_URL" "$work/php-$limit.log")
    ixc_stop "$IXC_ZBX_FRONTEND_PID"
    [[ $got =~ ^[0-9.]+$ ]] && { echo "$limit in $got s"; return; }
  done
  echo "over 2G"
}

frontend_wait() {
  local i
  for ((i = 0; i < 100; i++)); do
    curl -s -o /dev/null --max-time 5 "$1/index.php" && return 0
    sleep 0.1
  done
}

measure_frontend() {
  local size=$1 stock=${IXC_ZBX_API%/api_jsonrpc.php} customer item latest
  customer=$(ixc_zbx_sql "SELECT SUBSTRING_INDEX(SUBSTRING_INDEX(key_, '[', -1), ']', 1) FROM items
    WHERE hostid = $real_host_id AND flags = 4 AND key_ LIKE 'valorAtraso[%' ORDER BY itemid LIMIT 1")
  item=$(ixc_zbx_sql "SELECT itemid FROM items WHERE hostid = $real_host_id AND key_ = 'valorAtraso[$customer]'")
  # Sorted by name, its first page opens with the totals ("Clientes ativos em atraso").
  latest="zabbix.php?action=latest.view&hostids%5B%5D=$real_host_id&filter_set=1"
  echo "== the frontend at $size customers" >&2

  result[dash_first,$size]=$(frontend_dashboard "$stock" "" 120 "$folder/php.log")
  result[dash_customers,$size]=$(frontend_dashboard "$stock" "$customers_page" 60 "$folder/php.log")
  result[latest_stock,$size]=$(frontend_page "$stock" "$latest" 'Clientes ativos em atraso')
  result[latest_one,$size]=$(frontend_page "$stock" "$latest&name=cliente+$customer%29" "(cliente $customer)")
  result[problems_page,$size]=$(frontend_page "$stock" \
    "zabbix.php?action=problem.view&filter_set=1&hostids%5B%5D=$real_host_id" "$real_host")
  result[item_graph,$size]=$(frontend_page "$stock" \
    "history.php?action=showgraph&itemids%5B%5D=$item" "(cliente $customer)")
  result[dash_customers_limit,$size]=$(frontend_smallest_limit frontend_dashboard_at "$customers_page")
  result[latest_limit,$size]=$(frontend_smallest_limit frontend_page_at "$latest" 'Clientes ativos em atraso')
  result[memory_error,$size]=$(grep -ohE 'Allowed memory size of [0-9]+ bytes exhausted( \(tried to allocate [0-9]+ bytes\))?' \
    "$folder/php.log" "$work"/php-*.log | head -n 1 || true)
  rm -f "$work"/php-*.log
}

# The argument orders frontend_smallest_limit calls with (URL and LOG last).
frontend_dashboard_at() { frontend_dashboard "$2" "$1" 60 "$3"; }
frontend_page_at() { frontend_page "$3" "$1" "$2"; }

print_frontend_table() {
  echo
  echo "the frontend (php -S, Debian's PHP settings; memory_limit 128M unless a row says otherwise)"
  row "customers with overdue receivables" "target" "${sizes[@]}"
  line "dashboard, first page: all widgets drawn (s)" "drawn" value_of dash_first
  line "dashboard, per-customer page at 128M (s)" "" value_of dash_customers
  line "  smallest memory_limit that draws it" "" value_of dash_customers_limit
  line "Latest data for the host at 128M (s)" "" value_of latest_stock
  line "  smallest memory_limit that opens it" "" value_of latest_limit
  line "Latest data, one customer's id (s)" "" value_of latest_one
  line "one customer's item graph (s)" "" value_of item_graph
  line "Problems, filtered by the host (s)" "" value_of problems_page
  local size
  for size in "${sizes[@]}"; do
    [ -z "${result[memory_error,$size]:-}" ] ||
      echo "at $size, PHP's log: ${result[memory_error,$size]}"
  done
}
