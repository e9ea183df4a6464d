# A real Zabbix server from Debian's packages (6.0 on Debian 12, 7.0 on Debian 13) for
# bench/run --zabbix-server and the tests, sourced after servers.sh (bash), on the MariaDB that
# ixc_start_mariadb started:
#
#   ixc_start_zabbix FOLDER [SETTING=VALUE...]   zabbix_server on 127.0.0.1 with its own database,
#                                                configuration and log in FOLDER, the settings
#                                                added to its configuration; the frontend's API
#                                                under `php -S`; sets IXC_ZBX_PORT, IXC_ZBX_LOG,
#                                                IXC_ZBX_PID, IXC_ZBX_API, IXC_ZBX_VERSION (6.0, 7.0)
#   ixc_zbx_frontend FOLDER LIMIT LOG            one more frontend on that server, with another
#                                                PHP memory_limit
#   ixc_zbx_template_file                        the shipped template for that version
#   ixc_zbx_import_template FILE                 imports the template; prints its id
#   ixc_stop_zabbix                              stops the API and the server, workers included
#   ixc_start_zabbix_node FOLDER NAME            a second node of a cluster: with HANodeName=...
#                                                among ixc_start_zabbix's settings, one more
#                                                zabbix_server on the same database with the same
#                                                settings, its own port, log and node name NAME;
#                                                returns once it is registered; sets
#                                                IXC_ZBX_NODE_PORT, IXC_ZBX_NODE_PID, IXC_ZBX_NODE_CONF
#   ixc_zbx_node_status NAME                     a node's state in the ha_node table: standby,
#                                                stopped, unavailable or active
#   ixc_zbx_stop_server PID                      stops one zabbix_server gracefully (a cluster's
#                                                active node hands over), workers included
#   ixc_zbx_api METHOD PARAMS_JSON               one API call; prints its result as JSON
#   ixc_zbx_sql STATEMENT                        a statement on the Zabbix database, tab output
#   ixc_zbx_after_sync                           waits for the end of the next configuration
#                                                sync (a minute at most with the default
#                                                CacheUpdateFrequency)
#   ixc_zbx_quiet [SECONDS]                      waits (300 s at most) until what digests the
#                                                values and MariaDB have used under 10% of a
#                                                core for 3 s in a row
#
# Everything listens on loopback only and is remembered for ixc_stop_all; /etc/zabbix is
# neither read nor written (the frontend reads a configuration in FOLDER through the router of
# tests/fixtures/deploy).

IXC_ZBX_PASSWORD='Zbx-bench-5Rt1'

# A free port below 32768: zabbix_server refuses a ListenPort above 32767.
ixc_low_free_port() {
  python3 -c '
import random, socket
while True:
    port = random.randint(20000, 32767)
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            continue
    print(port)
    break'
}

ixc_zbx_sql() { ixc_root_sql -N -B zabbix -e "$1"; }

# zabbix_server refuses a parameter given twice: a later line replaces an earlier one, in place.
ixc_zbx_last_setting_wins() {
  awk -F= '{ value[$1] = $0; if (!($1 in seen)) { order[++n] = $1; seen[$1] = 1 } }
           END { for (i = 1; i <= n; i++) print value[order[i]] }'
}

ixc_start_zabbix() {
  local folder=$1 i
  shift
  mkdir -p "$folder/locale"
  ixc_root_sql -e "CREATE DATABASE zabbix CHARACTER SET utf8mb4 COLLATE utf8mb4_bin;
    CREATE USER 'zabbix'@'%' IDENTIFIED BY '$IXC_ZBX_PASSWORD';
    GRANT ALL ON zabbix.* TO 'zabbix'@'%';
    SET GLOBAL log_bin_trust_function_creators = 1;"
  {
    echo 'SET autocommit=0; SET unique_checks=0; SET foreign_key_checks=0;'
    zcat /usr/share/zabbix-server-mysql/{schema,images,data}.sql.gz
    echo 'COMMIT;'
  } | ixc_root_sql zabbix || { ixc_fail "importing the Zabbix schema failed"; return 1; }
  # The schema's own host polls an agent that is not there, which only adds noise.
  ixc_zbx_sql "UPDATE hosts SET status = 1 WHERE host = 'Zabbix server'"

  IXC_ZBX_PORT=$(ixc_low_free_port)
  IXC_ZBX_LOG=$folder/zabbix_server.log
  IXC_ZBX_CONF=$folder/zabbix_server.conf
  {
    cat <<CONF
LogType=file
LogFile=$IXC_ZBX_LOG
LogFileSize=0
PidFile=$folder/zabbix_server.pid
SocketDir=$folder
DBHost=127.0.0.1
DBPort=$IXC_DB_PORT
DBName=zabbix
DBUser=zabbix
DBPassword=$IXC_ZBX_PASSWORD
AllowUnsupportedDBVersions=1
AllowRoot=1
ListenIP=127.0.0.1
ListenPort=$IXC_ZBX_PORT
HousekeepingFrequency=0
StartPollers=1
StartPollersUnreachable=1
StartHistoryPollers=1
StartPingers=0
StartDiscoverers=0
StartHTTPPollers=0
StartProxyPollers=0
StartODBCPollers=0
StartReportWriters=0
CONF
    local setting
    for setting in "$@"; do
      echo "$setting"
      # A cluster's nodes find each other's trapper through the address each one registers.
      [[ $setting != HANodeName=* ]] || echo "NodeAddress=127.0.0.1:$IXC_ZBX_PORT"
    done
  } | ixc_zbx_last_setting_wins >"$IXC_ZBX_CONF"
  PATH=$PATH:/usr/sbin zabbix_server -c "$IXC_ZBX_CONF" -f \
    >"$folder/zabbix_server.out" 2>&1 </dev/null &
  IXC_ZBX_PID=$!
  ixc_remember "$IXC_ZBX_PID"
  for ((i = 0; i <= 1200; i++)); do
    grep -q 'started \[trapper #1\]' "$IXC_ZBX_LOG" 2>/dev/null && break
    [ "$i" -lt 1200 ] || { ixc_fail "zabbix_server did not start its trapper in 120 s"; return 1; }
    kill -0 "$IXC_ZBX_PID" 2>/dev/null || {
      tail -20 "$folder/zabbix_server.out" "$IXC_ZBX_LOG" >&2 2>/dev/null
      ixc_fail "zabbix_server ended before its trapper started"
      return 1
    }
    sleep 0.1
  done

  local web_port
  cat >"$folder/zabbix.conf.php" <<CONF
<?php
\$DB['TYPE'] = 'MYSQL';
\$DB['SERVER'] = '127.0.0.1';
\$DB['PORT'] = '$IXC_DB_PORT';
\$DB['DATABASE'] = 'zabbix';
\$DB['USER'] = 'zabbix';
\$DB['PASSWORD'] = '$IXC_ZBX_PASSWORD';
\$DB['SCHEMA'] = '';
\$DB['ENCRYPTION'] = false;
\$DB['DOUBLE_IEEE754'] = true;
\$ZBX_SERVER = '127.0.0.1';
\$ZBX_SERVER_PORT = '$IXC_ZBX_PORT';
\$ZBX_SERVER_NAME = 'ixc-atraso';
\$IMAGE_FORMAT_DEFAULT = IMAGE_FORMAT_PNG;
CONF
  # The web pages set the user's locale and print an error in every widget without it; the
  # system may have none of them installed, so the frontend gets its own (LOCPATH).
  local locale
  for locale in en_US pt_BR; do
    localedef -i "$locale" -f UTF-8 "$folder/locale/$locale.UTF-8" ||
      { ixc_fail "localedef could not build the $locale.UTF-8 locale for the frontend"; return 1; }
  done
  ixc_zbx_frontend "$folder" 128M "$folder/php.log" || return 1
  IXC_ZBX_WEB_PID=$IXC_ZBX_FRONTEND_PID
  web_port=${IXC_ZBX_FRONTEND_URL##*:}
  IXC_ZBX_API=http://127.0.0.1:$web_port/api_jsonrpc.php
  IXC_ZBX_AUTH=
  IXC_ZBX_VERSION=
  for ((i = 0; i <= 600; i++)); do
    IXC_ZBX_VERSION=$(curl -sS --max-time 10 -H 'Content-Type: application/json-rpc' \
      -d '{"jsonrpc":"2.0","method":"apiinfo.version","params":{},"id":1}' "$IXC_ZBX_API" 2>/dev/null |
      grep -oE '"result":"(6\.0|7\.0)\.' | grep -oE '[67]\.0' || true)
    [ -z "$IXC_ZBX_VERSION" ] || break
    [ "$i" -lt 600 ] || { ixc_fail "the frontend API did not answer with a 6.0 or 7.0 version"; return 1; }
    sleep 0.1
  done
  IXC_ZBX_AUTH=$(ixc_zbx_api user.login '{"username": "Admin", "password": "zabbix"}' |
    python3 -c 'import json, sys; print(json.load(sys.stdin))') || return 1
}

# The PHP settings an operator's frontend runs with. Debian's zabbix-frontend-php sets them in an
# Apache block for mod_php5.c and mod_php7.c (Debian 12) or mod_php8.2.c (Debian 13), names that
# PHP 8's module (mod_php.c) does not answer to: so memory_limit is php.ini's 128M, and the
# frontend's own setup refuses to go on until the operator raises the others to what it requires
# (and what that block meant): max_execution_time and max_input_time 300, post_max_size 16M.
# `php -S` reads the CLI's php.ini instead (no memory limit), hence the explicit values.
IXC_ZBX_PHP_SETTINGS=(-d max_execution_time=300 -d max_input_time=300 -d post_max_size=16M
  -d upload_max_filesize=2M)

# ixc_zbx_frontend FOLDER MEMORY_LIMIT LOG: the frontend of the server that ixc_start_zabbix
# started in FOLDER, under `php -S` on a free loopback port, with those settings and the given
# memory_limit (128M is the stock one); sets IXC_ZBX_FRONTEND_PID and IXC_ZBX_FRONTEND_URL (no
# trailing slash). A second one on the same server weighs what a larger limit changes.
ixc_zbx_frontend() {
  local folder=$1 limit=$2 log=$3 port
  port=$(ixc_free_port)
  LOCPATH=$folder/locale IXC_ZABBIX_FRONTEND_CONF=$folder/zabbix.conf.php php -d session.save_path="$folder" \
    -d memory_limit="$limit" "${IXC_ZBX_PHP_SETTINGS[@]}" -S "127.0.0.1:$port" -t /usr/share/zabbix \
    "$IXC_ROOT/tests/fixtures/deploy/zabbix_frontend_router.php" >"$log" 2>&1 </dev/null &
  IXC_ZBX_FRONTEND_PID=$!
  ixc_remember "$IXC_ZBX_FRONTEND_PID"
  IXC_ZBX_FRONTEND_URL=http://127.0.0.1:$port
}

# 6.0 reads the 6.0 file; 7.0 its own, whose dashboard also lists the host's problems (6.0 allows
# no such widget on a template dashboard).
ixc_zbx_template_file() {
  if [ "$IXC_ZBX_VERSION" = 6.0 ]; then
    echo "$IXC_ROOT/deploy/zabbix/ixc_atraso_template.yaml"
  else
    echo "$IXC_ROOT/deploy/zabbix/ixc_atraso_template_$IXC_ZBX_VERSION.yaml"
  fi
}

# Imports a template file (YAML), creating and updating all it holds; prints its template id.
# 7.0 refuses 6.0's rule "groups" (Invalid parameter "/rules": unexpected parameter "groups".).
ixc_zbx_import_template() {
  local params
  params=$(python3 -c '
import json, sys
both = {"createMissing": True, "updateExisting": True}
groups = "groups" if sys.argv[2] == "6.0" else "template_groups"
print(json.dumps({"format": "yaml", "source": open(sys.argv[1], encoding="utf-8").read(),
                  "rules": {groups: {"createMissing": True}, "templates": both, "items": both,
                            "discoveryRules": both, "triggers": both, "graphs": both,
                            "templateDashboards": both}}))' "$1" "$IXC_ZBX_VERSION")
  [ "$(ixc_zbx_api configuration.import "$params")" = true ] ||
    { ixc_fail "importing $1 into Zabbix failed"; return 1; }
  ixc_zbx_api template.get '{"filter": {"host": ["IXC Atraso"]}, "output": ["templateid"]}' |
    python3 -c 'import json, sys; print(json.load(sys.stdin)[0]["templateid"])'
}

ixc_stop_zabbix() {
  ixc_stop "$IXC_ZBX_WEB_PID"
  ixc_zbx_stop_server "$IXC_ZBX_PID"
}

ixc_zbx_stop_server() {
  local pid=$1 children i
  children=$(pgrep -P "$pid" || true)
  # It flushes its caches to the database on the way out, which takes a while when they are full.
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 600; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # shellcheck disable=SC2086
  [ -z "$children" ] || kill -KILL $children 2>/dev/null || true
}

# A standby node starts only its HA manager: it neither listens nor logs a trapper, so what
# tells it is up is its row in ha_node.
ixc_start_zabbix_node() {
  local folder=$1 name=$2 i
  mkdir -p "$folder"
  IXC_ZBX_NODE_PORT=$(ixc_low_free_port)
  IXC_ZBX_NODE_CONF=$folder/zabbix_server.conf
  {
    cat "$IXC_ZBX_CONF"
    cat <<CONF
LogFile=$folder/zabbix_server.log
PidFile=$folder/zabbix_server.pid
SocketDir=$folder
ListenPort=$IXC_ZBX_NODE_PORT
HANodeName=$name
NodeAddress=127.0.0.1:$IXC_ZBX_NODE_PORT
CONF
  } | ixc_zbx_last_setting_wins >"$IXC_ZBX_NODE_CONF"
  PATH=$PATH:/usr/sbin zabbix_server -c "$IXC_ZBX_NODE_CONF" -f \
    >"$folder/zabbix_server.out" 2>&1 </dev/null &
  IXC_ZBX_NODE_PID=$!
  ixc_remember "$IXC_ZBX_NODE_PID"
  for ((i = 0; i <= 1200; i++)); do
    case $(ixc_zbx_node_status "$name") in standby | active) return 0 ;; esac
    [ "$i" -lt 1200 ] || { ixc_fail "zabbix_server node $name did not register in 120 s"; return 1; }
    kill -0 "$IXC_ZBX_NODE_PID" 2>/dev/null || {
      tail -20 "$folder/zabbix_server.out" "$folder/zabbix_server.log" >&2 2>/dev/null
      ixc_fail "zabbix_server node $name ended before it registered"
      return 1
    }
    sleep 0.1
  done
}

ixc_zbx_node_status() {
  local status
  status=$(ixc_zbx_sql "SELECT status FROM ha_node WHERE name = '$1'" 2>/dev/null || true)
  case $status in
    0) echo standby ;; 1) echo stopped ;; 2) echo unavailable ;; 3) echo active ;; *) echo "$status" ;;
  esac
}

ixc_zbx_api() {
  local request reply
  local header=()
  # 6.0 takes the session in the request's "auth"; 7.0 still does, with a deprecation warning in
  # the frontend's log for every call, and wants it in an Authorization header.
  if [ -n "${IXC_ZBX_AUTH:-}" ] && [ "$IXC_ZBX_VERSION" != 6.0 ]; then
    header=(-H "Authorization: Bearer $IXC_ZBX_AUTH")
  fi
  request=$(python3 -c '
import json, sys
call = {"jsonrpc": "2.0", "method": sys.argv[1], "params": json.loads(sys.argv[2]), "id": 1}
if sys.argv[3] and sys.argv[4] == "6.0":
    call["auth"] = sys.argv[3]
print(json.dumps(call))' "$1" "$2" "${IXC_ZBX_AUTH:-}" "${IXC_ZBX_VERSION:-}")
  reply=$(curl -sS --max-time 600 -H 'Content-Type: application/json-rpc' "${header[@]}" --data-binary @- \
    "$IXC_ZBX_API" <<<"$request") || { ixc_fail "Zabbix API $1: no answer"; return 1; }
  python3 -c '
import json, sys
reply = json.loads(sys.stdin.read())
if "error" in reply:
    sys.exit("Zabbix API " + sys.argv[1] + ": " + json.dumps(reply["error"]))
print(json.dumps(reply["result"]))' "$1" <<<"$reply"
}

# CPU ticks used so far by the server's processes that digest what it received (discovery,
# preprocessing, history syncing, trappers) and by MariaDB. The configuration syncer and the
# pollers are left out: they work on their own clock whatever arrives.
ixc_zbx_ticks() {
  local pids
  pids=$(ps -o pid=,args= --ppid "$IXC_ZBX_PID" |
    awk '/lld worker|lld manager|preprocessing|history syncer|trapper/ { print $1 }')
  # shellcheck disable=SC2086
  cat $(printf '/proc/%s/stat ' $pids "$IXC_DB_PID") 2>/dev/null |
    awk '{ sum += $14 + $15 } END { print sum + 0 }'
}

ixc_zbx_quiet() {
  local limit=${1:-300} deadline calm=0 before after hz
  hz=$(getconf CLK_TCK)
  deadline=$((SECONDS + limit))
  before=$(ixc_zbx_ticks)
  while [ "$calm" -lt 3 ] && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 1
    after=$(ixc_zbx_ticks)
    if [ $((after - before)) -le $((hz / 10)) ]; then calm=$((calm + 1)); else calm=0; fi
    before=$after
  done
}

# The configuration syncer's title: "configuration syncer [syncing configuration]" while it
# works, "[synced configuration in 1.2 sec, idle 60 sec]" between syncs. A sync holds the
# configuration cache against the trappers; starting right after one gives every measured run
# the same stretch without.
ixc_zbx_syncer_title() { ps -o args= --ppid "$IXC_ZBX_PID" | grep -m1 'configuration syncer' || true; }

ixc_zbx_after_sync() {
  local deadline=$((SECONDS + 900)) before title
  # A short sync can fall between two looks: its new duration in the title tells it happened.
  before=$(ixc_zbx_syncer_title)
  while :; do
    title=$(ixc_zbx_syncer_title)
    [[ $title != "$before" && $title == *"synced configuration"* ]] && return 0
    [ "$SECONDS" -lt "$deadline" ] || return 0
    sleep 0.1
  done
}
