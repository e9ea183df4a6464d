# Throwaway servers for scripts/demo and bench/run, sourced by both (bash):
#
#   ixc_start_mariadb FOLDER [BUFFER_POOL]   MariaDB on 127.0.0.1, a free port, data in FOLDER;
#                                            sets IXC_DB_PORT, IXC_DB_SOCKET, IXC_DB_PID,
#                                            IXC_DB_USER/PASSWORD
#   ixc_root_sql [ARGS...]                   the mariadb client as root over that socket
#   ixc_create_erp DATABASE                  an empty ERP schema (tools/ixc_erp/ixc_schema.sql)
#   ixc_start_trapper HOST:PORT RECORD LOG [OPTION...]
#                                            the Zabbix trapper stand-in, with its options
#                                            (--tls-psk-identity ...); sets IXC_TRAPPER_PORT
#   ixc_start_questdb ADDRESS LOG PORT...    the QuestDB stand-in on ADDRESS, with the options
#                                            in IXC_QUESTDB_STANDIN_ARGS (--server-version 9)
#   ixc_stop_all                             stops, by PID, every server started here
#
# Every server listens on loopback only and is remembered in IXC_STARTED_PIDS, so that the
# caller's trap can stop them on any way out. Nothing here touches the system's own services,
# /var/lib/mysql or /run/mysqld. IXC_BIN must name the build's bin/ folder and IXC_ROOT the
# source tree.

IXC_STARTED_PIDS=()
IXC_QUESTDB_STANDIN_ARGS=()
IXC_DB_USER=ixc_leitura
IXC_DB_PASSWORD='Leitura-demo-2024'

ixc_fail() {
  echo "$*" >&2
  return 1
}

# A port that was free a moment ago; the caller retries if someone takes it meanwhile.
ixc_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# True when something accepts connections on HOST PORT.
ixc_port_answers() {
  (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}

ixc_remember() { IXC_STARTED_PIDS+=("$1"); }

# SIGTERM, then SIGKILL after ten seconds.
ixc_stop() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 200; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

ixc_stop_all() {
  local i
  for ((i = ${#IXC_STARTED_PIDS[@]} - 1; i >= 0; i--)); do ixc_stop "${IXC_STARTED_PIDS[i]}"; done
  IXC_STARTED_PIDS=()
}

ixc_root_sql() {
  mariadb --no-defaults --socket="$IXC_DB_SOCKET" --user=root --default-character-set=utf8mb4 "$@"
}

ixc_start_mariadb() {
  local folder=$1 pool=${2:-64M} attempt port pid i
  IXC_DB_SOCKET=$folder/sock
  PATH=$PATH:/usr/sbin mariadb-install-db --no-defaults --datadir="$folder/data" \
    --auth-root-authentication-method=normal --skip-test-db --tmpdir="$folder" >"$folder/install.log" 2>&1 ||
    { tail -20 "$folder/install.log" >&2; ixc_fail "mariadb-install-db failed"; return 1; }
  for attempt in 1 2 3 4 5; do
    port=$(ixc_free_port)
    # --user=root only matters when run as root, where mariadbd refuses to start without it.
    PATH=$PATH:/usr/sbin mariadbd --no-defaults --user=root --datadir="$folder/data" \
      --socket="$IXC_DB_SOCKET" --port="$port" --bind-address=127.0.0.1 --skip-networking=0 \
      --pid-file="$folder/mariadbd.pid" --log-error="$folder/error.log" --tmpdir="$folder" \
      --skip-name-resolve --innodb-buffer-pool-size="$pool" --innodb-flush-log-at-trx-commit=0 \
      --innodb-doublewrite=0 --max-allowed-packet=64M >"$folder/mariadbd.out" 2>&1 </dev/null &
    pid=$!
    ixc_remember "$pid"
    for ((i = 0; i < 600; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      if mariadb-admin --no-defaults --socket="$IXC_DB_SOCKET" --user=root ping >/dev/null 2>&1; then
        IXC_DB_PORT=$port
        IXC_DB_PID=$pid
        ixc_root_sql -e "CREATE USER '$IXC_DB_USER'@'%' IDENTIFIED BY '$IXC_DB_PASSWORD';
                         GRANT SELECT ON *.* TO '$IXC_DB_USER'@'%';"
        return 0
      fi
      sleep 0.1
    done
    ixc_stop "$pid"
  done
  tail -20 "$folder/error.log" >&2
  ixc_fail "mariadbd did not start (log: $folder/error.log)"
}

ixc_create_erp() {
  ixc_root_sql -e "DROP DATABASE IF EXISTS \`$1\`;
                   CREATE DATABASE \`$1\` CHARACTER SET utf8mb4 COLLATE utf8mb4_general_ci;"
  ixc_root_sql "$1" <"$IXC_ROOT/tools/ixc_erp/ixc_schema.sql"
}

# Waits until FILE has a first line matching PATTERN, or PID has ended; prints that line.
ixc_wait_line() {
  local file=$1 pattern=$2 pid=$3 i line
  for ((i = 0; i < 200; i++)); do
    line=$(grep -m1 -E "$pattern" "$file" 2>/dev/null || true)
    if [ -n "$line" ]; then
      echo "$line"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

ixc_start_trapper() {
  local listen=$1 record=$2 log=$3 pid line
  shift 3
  # Emptied here, not by the child's redirection, which may come after the first look at it.
  : >"$log"
  "$IXC_BIN/zabbix-trapper-standin" --listen "$listen" --record "$record" "$@" >"$log" 2>&1 </dev/null &
  pid=$!
  ixc_remember "$pid"
  line=$(ixc_wait_line "$log" '^[0-9]+$' "$pid") ||
    { cat "$log" >&2; ixc_fail "the trapper stand-in could not listen on $listen"; return 1; }
  IXC_TRAPPER_PORT=$line
  IXC_TRAPPER_PID=$pid
}

ixc_start_questdb() {
  local address=$1 log=$2 pid
  shift 2
  local args=(--address "$address" "${IXC_QUESTDB_STANDIN_ARGS[@]}") port
  for port in "$@"; do args+=(--port "$port"); done
  : >"$log"
  "$IXC_BIN/questdb-standin" "${args[@]}" >"$log" 2>&1 </dev/null &
  pid=$!
  ixc_remember "$pid"
  ixc_wait_line "$log" 'listening' "$pid" >/dev/null ||
    { cat "$log" >&2; ixc_fail "the QuestDB stand-in could not listen on $address:$*"; return 1; }
  IXC_QUESTDB_PID=$pid
}

# One statement against the QuestDB stand-in's /exec, signed in as IXC_QUESTDB_AUTH (user:password,
# the default login when unset); prints the JSON reply.
ixc_questdb_exec() {
  curl -sS -u "${IXC_QUESTDB_AUTH:-kestrel:observarQZ}" --get --data-urlencode "query=$2" "http://$1:9000/exec"
}
