# An active Zabbix proxy from Debian's zabbix-proxy-sqlite3 (6.0 on Debian 12, 7.0 on Debian 13),
# registered in the server that ixc_start_zabbix started; sourced after zabbix_server.sh (bash):
#
#   ixc_start_zabbix_proxy FOLDER NAME [SETTING=VALUE...]
#                              zabbix_proxy on 127.0.0.1, active, named NAME, with its own
#                              configuration, SQLite database, log and pid file in FOLDER, the
#                              settings added to its configuration (they replace the ones below);
#                              registered in the server through the API first; returns once it
#                              has the server's configuration. Sets IXC_ZBXP_PORT, IXC_ZBXP_PID,
#                              IXC_ZBXP_LOG, IXC_ZBXP_ID (its proxy id in the server)
#   ixc_zbxp_config_frequency SECONDS
#                              the SETTING=VALUE for how often the proxy fetches its
#                              configuration (6.0: ConfigFrequency, 3600 s by default; 7.0:
#                              ProxyConfigFrequency, 10 s by default)
#   ixc_zbxp_monitored_by ID   the host.create/host.update fields that put a host on proxy ID,
#                              as a JSON fragment (6.0: proxy_hostid; 7.0: monitored_by, proxyid)
#   ixc_stop_zabbix_proxy      stops it, workers included
#
# The binary is the one scripts/setup unpacks (Debian's package conflicts with the server's):
# IXC_ZABBIX_PROXY_DIR, /opt/ixc-atraso/zabbix-proxy-sqlite3 by default.
#
# Like the server it listens on loopback only, is remembered for ixc_stop_all, and neither reads
# nor writes /etc/zabbix or /var/lib/zabbix.

IXC_ZBXP_BINARY=${IXC_ZABBIX_PROXY_DIR:-/opt/ixc-atraso/zabbix-proxy-sqlite3}/usr/sbin/zabbix_proxy

ixc_zbxp_config_frequency() {
  if [ "$IXC_ZBX_VERSION" = 6.0 ]; then echo "ConfigFrequency=$1"; else echo "ProxyConfigFrequency=$1"; fi
}

ixc_zbxp_monitored_by() {
  if [ "$IXC_ZBX_VERSION" = 6.0 ]; then
    echo "\"proxy_hostid\": \"$1\""
  else
    echo "\"monitored_by\": 1, \"proxyid\": \"$1\""
  fi
}

ixc_start_zabbix_proxy() {
  local folder=$1 name=$2 i params
  shift 2
  mkdir -p "$folder"
  # Registered before it starts: its first configuration request is then answered, instead of
  # refused and retried only after a whole configuration period.
  if [ "$IXC_ZBX_VERSION" = 6.0 ]; then
    params="{\"host\": \"$name\", \"status\": 5}"
  else
    params="{\"name\": \"$name\", \"operating_mode\": 0}"
  fi
  IXC_ZBXP_ID=$(ixc_zbx_api proxy.create "$params" |
    python3 -c 'import json, sys; print(json.load(sys.stdin)["proxyids"][0])') ||
    { ixc_fail "registering the proxy $name in the Zabbix server failed"; return 1; }

  IXC_ZBXP_PORT=$(ixc_low_free_port)
  IXC_ZBXP_LOG=$folder/zabbix_proxy.log
  {
    cat <<CONF
LogType=file
LogFile=$IXC_ZBXP_LOG
LogFileSize=0
PidFile=$folder/zabbix_proxy.pid
SocketDir=$folder
DBName=$folder/zabbix_proxy.db
ProxyMode=0
Server=127.0.0.1:$IXC_ZBX_PORT
Hostname=$name
ListenIP=127.0.0.1
ListenPort=$IXC_ZBXP_PORT
AllowRoot=1
CONF
    local setting
    for setting in "$@"; do echo "$setting"; done
  } | awk -F= '{ value[$1] = $0; if (!($1 in seen)) { order[++n] = $1; seen[$1] = 1 } }
               END { for (i = 1; i <= n; i++) print value[order[i]] }' >"$folder/zabbix_proxy.conf"
  # With SQLite the proxy makes its database from its own schema when the file is missing.
  "$IXC_ZBXP_BINARY" -c "$folder/zabbix_proxy.conf" -f \
    >"$folder/zabbix_proxy.out" 2>&1 </dev/null &
  IXC_ZBXP_PID=$!
  ixc_remember "$IXC_ZBXP_PID"
  # The server reads a new proxy from its configuration cache, CacheUpdateFrequency later (60 s
  # by default); the proxy asks again at its own configuration period.
  for ((i = 0; i <= 3000; i++)); do
    grep -q 'received configuration data from server' "$IXC_ZBXP_LOG" 2>/dev/null && return 0
    [ "$i" -lt 3000 ] || { ixc_fail "zabbix_proxy $name got no configuration from the server in 300 s"; return 1; }
    kill -0 "$IXC_ZBXP_PID" 2>/dev/null || {
      tail -20 "$folder/zabbix_proxy.out" "$IXC_ZBXP_LOG" >&2 2>/dev/null || true
      ixc_fail "zabbix_proxy $name ended before it got its configuration"
      return 1
    }
    sleep 0.1
  done
}

ixc_stop_zabbix_proxy() {
  local children i
  children=$(pgrep -P "$IXC_ZBXP_PID" || true)
  kill -TERM "$IXC_ZBXP_PID" 2>/dev/null || return 0
  for ((i = 0; i < 600; i++)); do kill -0 "$IXC_ZBXP_PID" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$IXC_ZBXP_PID" 2>/dev/null || true
  wait "$IXC_ZBXP_PID" 2>/dev/null || true
  # shellcheck disable=SC2086
  [ -z "$children" ] || kill -KILL $children 2>/dev/null || true
}
