#!/usr/bin/env bash
# The Debian package as an operator gets it: scripts/package builds it (with build-time settings
# of its own, to see them reach the binary: a support contact, and a PSK build whose key lives
# where the package says), its control fields and contents are checked, and it is installed with
# dpkg -i into this machine, so that dpkg itself checks the declared dependencies and runs the
# maintainer scripts, the program runs from /usr/bin and man finds its page through the system's
# manual path. Then the operator's first hour: fill /etc/ixc-atraso.conf, put the key in place,
# and one scheduled run as the timer's service starts it (no systemd runs here: the unit's own
# command line, as its user, with its environment) and one of the cron line, each against a
# throwaway MariaDB and the Zabbix trapper (PSK only) and QuestDB stand-ins, whose records must
# hold the run's values. An upgrade over itself keeps the operator's files; removal keeps the account and
# the configuration, purge the account only. The package is purged again on any failure.
#
# Installing needs root and a machine without the package: where either is missing (a developer's
# machine with a real installation), the package is unpacked into a temporary root instead and
# the checks that need the real installation are skipped, saying so. IXC_PACKAGE_TEST_BUILD_DIR
# keeps the package's build folder between runs (a developer's shortcut; default: a fresh one).
set -euo pipefail

source_dir=${IXC_SOURCE_DIR:?IXC_SOURCE_DIR must name the source tree}
bin_dir=${IXC_BIN_DIR:?IXC_BIN_DIR must name the bin folder of a build with the stand-ins}
export PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d /tmp/ixc-package.XXXXXX)
build=${IXC_PACKAGE_TEST_BUILD_DIR:-$work/build}
installed=0 made_account=0 made_lock=0
IXC_ROOT=$source_dir
IXC_BIN=$bin_dir
# shellcheck source=../bench/servers.sh
source "$source_dir/bench/servers.sh"
cleanup() {
  local status=$?
  if [ "$installed" = 1 ]; then
    rm -f /etc/ixc-atraso/zabbix.psk
    dpkg -P ixc-atraso >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; status=1; }
  fi
  if [ "$made_account" = 1 ] && getent passwd ixc-atraso >/dev/null; then
    userdel ixc-atraso || status=1
  fi
  if [ "$made_account" = 1 ] && getent group ixc-atraso >/dev/null; then
    groupdel ixc-atraso || status=1
  fi
  [ "$made_lock" = 0 ] || rm -f /run/lock/ixc-atraso.lock
  ixc_stop_all
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 143' TERM INT
fail() { echo "FAIL: $*" >&2; exit 1; }

contact='pacote@teste.example ou +55 11 0000-0000'
# The Zabbix address is compiled in: the trapper stand-in takes this port after the build.
zabbix_port=$(ixc_free_port)
psk_identity=ixc-atraso-pacote
psk_file=/etc/ixc-atraso/zabbix.psk
# A QuestDB login of the provider's own, its password in a file read at run time.
quest_user=provedor-questdb
quest_password_file=/etc/ixc-atraso/questdb.password
quest_password="qz-$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n');x"
IXC_PACKAGE_BUILD_DIR=$build IXC_PACKAGE_DIR=$work/out \
  "$source_dir/scripts/package" "-DIXC_SUPPORT_CONTACT=$contact" \
  "-DIXC_ZABBIX_SERVER=127.0.0.1:$zabbix_port" -DIXC_ZABBIX_TLS_CONNECT=psk \
  "-DIXC_ZABBIX_TLS_PSK_IDENTITY=$psk_identity" "-DIXC_ZABBIX_TLS_PSK_FILE=$psk_file" \
  "-DIXC_QUESTDB_USER=$quest_user" "-DIXC_QUESTDB_PASSWORD_FILE=$quest_password_file" \
  >"$work/package.log" 2>&1 ||
  { tail -n 40 "$work/package.log" >&2; fail "scripts/package failed"; }
deb=$(tail -n 1 "$work/package.log")
[ -f "$deb" ] || fail "scripts/package did not name a package on its last line: $deb"

# --- control fields -------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = ixc-atraso ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
banner_version=$("$build/bin/ixc-atraso" version | sed -n 2p | awk '{print $NF}')
release=$(. /etc/os-release && echo "$VERSION_ID")
[ "$(field Version)" = "$banner_version+deb$release" ] ||
  fail "the package's Version '$(field Version)' is not the banner's '$banner_version' for Debian $release"
[ "$(basename "$deb")" = "ixc-atraso_${banner_version}+deb${release}_$(dpkg --print-architecture).deb" ] ||
  fail "the package's file name does not name the release: $deb"
depends=$(field Depends)
names=$(sed 's/ ([^)]*)//g; s/ *| */\n/g; s/, /\n/g' <<<"$depends")
# Debian 13 renamed the libraries whose ABI took a 64-bit time_t (libcurl4t64, libgnutls30t64);
# passwd: postinst's groupadd and useradd.
for library in libmariadb3 libcurl4 libgnutls30 libc6 libstdc++6 passwd; do
  grep -qxF -e "$library" -e "${library}t64" <<<"$names" || fail "Depends lacks $library: $depends"
done
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
conffiles=$(dpkg-deb -I "$deb" conffiles | sort)
[ "$conffiles" = "$(printf '/etc/cron.d/ixc-atraso\n/etc/ixc-atraso.conf')" ] ||
  fail "the conffiles are not the configuration and the cron file: $conffiles"

# --- contents -------------------------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $1, $6}' | sed 's| \./| /|' >"$work/contents"
# The configuration holds the ERP password: root's alone. Debian names the changelog of a native
# version changelog.gz, of one with a revision changelog.Debian.gz.
changelog=/usr/share/doc/ixc-atraso/changelog.gz
[[ $(field Version) != *-* ]] || changelog=/usr/share/doc/ixc-atraso/changelog.Debian.gz
for entry in '-rwxr-xr-x /usr/bin/ixc-atraso' \
  '-rw-r--r-- /usr/share/man/man1/ixc-atraso.1.gz' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/zabbix/ixc_atraso_template.yaml' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/zabbix/ixc_atraso_template_7.0.yaml' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/zabbix/README.md' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/copyright' \
  "-rw-r--r-- $changelog" \
  '-rw-r--r-- /lib/systemd/system/ixc-atraso.service' \
  '-rw-r--r-- /lib/systemd/system/ixc-atraso.timer' \
  '-rw-r--r-- /lib/systemd/system/ixc-atraso-verificar.service' \
  '-rw-r--r-- /etc/cron.d/ixc-atraso' \
  '-rw------- /etc/ixc-atraso.conf' \
  'drwx------ /etc/ixc-atraso/'; do
  grep -qxF -- "$entry" "$work/contents" || fail "the package lacks '$entry'; it holds:
$(cat "$work/contents")"
done
outside=$(awk '{print $2}' "$work/contents" |
  grep -vE '^/usr/(bin|share/man/man1|share/doc/ixc-atraso)(/|$)|^/lib/systemd/system/ixc-atraso(-verificar)?\.(service|timer)$' |
  grep -vxE '/etc/ixc-atraso\.conf|/etc/cron\.d/ixc-atraso|/etc/ixc-atraso/' |
  grep -vxE '/usr/|/usr/share/|/usr/share/man/|/usr/share/doc/|/lib/|/lib/systemd/|/lib/systemd/system/|/etc/|/etc/cron\.d/' || true)
[ -z "$outside" ] || fail "the package installs files elsewhere: $outside"
owners=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
[ -z "$owners" ] || fail "files not owned by root: $owners"

mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
kind=$(file -b "$work/root/usr/bin/ixc-atraso")
case $kind in
  *'not stripped'* | *'with debug_info'*) fail "the packaged binary carries its debugging symbols: $kind" ;;
  ELF*stripped*) ;;
  *) fail "the packaged binary is not a stripped ELF file: $kind" ;;
esac
# It parses replies from the network: built as Debian builds its packages, with PIE, full RELRO,
# the stack protector and glibc's checked functions.
elf=$work/root/usr/bin/ixc-atraso
readelf -lW "$elf" | grep -q GNU_RELRO || fail "the packaged binary has no RELRO segment"
readelf -dW "$elf" | grep -qE '\(FLAGS(_1)?\).* (BIND_)?NOW' || fail "the packaged binary is not linked with -z now"
readelf -dW "$elf" | grep -qE '\(FLAGS_1\).* PIE' || fail "the packaged binary is not position-independent (PIE)"
symbols=$(readelf --dyn-syms -W "$elf")
grep -q ' __stack_chk_fail' <<<"$symbols" || fail "the packaged binary has no stack protector"
grep -qE ' __[a-z_]+_chk(@|$)' <<<"$symbols" || fail "the packaged binary calls no checked (_FORTIFY_SOURCE) function"
if command -v lintian >/dev/null; then
  # Debian's own checks of what the hardening and the maintainer scripts should be.
  lintian --no-cfg --display-info --fail-on error,warning,info \
    --tags hardening-no-bindnow,hardening-no-fortify-functions,hardening-no-pie,hardening-no-relro,maintainer-script-calls-systemctl \
    "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(cat "$work/lintian.log")"
else
  echo "package_test: lintian not installed: Debian's checks of the package not run"
fi
zcat "$work/root$changelog" >"$work/changelog"
entry_version=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) ||
  fail "dpkg-parsechangelog cannot read the changelog: $entry_version"
[ "$entry_version" = "$(field Version)" ] ||
  fail "the changelog's newest entry is for '$entry_version', the package is $(field Version)"
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$work/root/usr/share/doc/ixc-atraso/copyright" || fail "the copyright file is not machine-readable"
page_version=$(zcat "$work/root/usr/share/man/man1/ixc-atraso.1.gz" | sed -n 's/^\.TH IXC-ATRASO 1 "[^"]*" "ixc-atraso \([^"]*\)".*/\1/p')
[ "$page_version" = "$banner_version" ] || fail "the manual page is for version '$page_version', the program is $banner_version"

# --- installed ------------------------------------------------------------------------------
can_install=1
if [ "$(id -u)" -ne 0 ]; then
  can_install=0
  echo "package_test: not root: checking an unpacked copy instead of installing"
elif [ -n "$(dpkg-query -W -f='${db:Status-Status}' ixc-atraso 2>/dev/null | grep -vx not-installed)" ] ||
  [ -e /etc/ixc-atraso.conf ] || [ -e /etc/ixc-atraso ] || [ -e /etc/cron.d/ixc-atraso ]; then
  can_install=0
  echo "package_test: ixc-atraso is (or was) installed here; checking an unpacked copy instead"
fi

if [ "$can_install" = 1 ]; then
  getent passwd ixc-atraso >/dev/null || getent group ixc-atraso >/dev/null || made_account=1
  installed=1
  # No standard input: a conffile question would fail here instead of waiting.
  dpkg -i "$deb" </dev/null >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "dpkg -i refused the package"; }
  [ "$(dpkg-query -W -f='${db:Status-Status}' ixc-atraso)" = installed ] || fail "dpkg does not list ixc-atraso as installed"
  program=/usr/bin/ixc-atraso
  [ "$(command -v ixc-atraso)" = "$program" ] || fail "ixc-atraso on the PATH is '$(command -v ixc-atraso)'"
  page=$(man -w ixc-atraso) || fail "man -w does not find ixc-atraso"
  [ "$page" = /usr/share/man/man1/ixc-atraso.1.gz ] || fail "man -w finds '$page'"
  root=
  # A system account without a home or a login; the key's folder is its group's to read.
  IFS=: read -r _ _ uid gid _ home shell < <(getent passwd ixc-atraso) || fail "postinst made no account ixc-atraso"
  [ "$uid" -lt 1000 ] && [ ! -e "$home" ] && [ "${shell##*/}" = nologin ] ||
    fail "ixc-atraso is not a system account without home and login: uid $uid, home $home, shell $shell"
  [ "$(getent group ixc-atraso | cut -d: -f3)" = "$gid" ] || fail "ixc-atraso's group is not ixc-atraso"
  [ "$(stat -c '%U:%G %a' /etc/ixc-atraso)" = 'root:ixc-atraso 750' ] ||
    fail "/etc/ixc-atraso is $(stat -c '%U:%G %a' /etc/ixc-atraso), not root:ixc-atraso 750"
  # Installed, not switched on.
  enabled=$(find /etc/systemd/system -name 'ixc-atraso*' 2>/dev/null || true)
  [ -z "$enabled" ] || fail "the install switched the units on: $enabled"
else
  root=$work/root
  program=$work/root/usr/bin/ixc-atraso
  page=$(MANPATH=$work/root/usr/share/man man -w ixc-atraso) || fail "man -w does not find the unpacked page"
fi

missing=$(ldd "$program" | grep 'not found' || true)
[ -z "$missing" ] || fail "libraries missing for the installed program: $missing"
status=0
banner=$("$program" version) || status=$?
[ "$status" -eq 0 ] || fail "ixc-atraso version ended with status $status"
grep -qx "$program  $banner_version" <<<"$banner" || fail "unexpected banner: $banner"
status=0
complaint=$("$program") || status=$?
[ "$status" -eq 1 ] || fail "ixc-atraso without arguments ended with status $status"
[ "$complaint" = "Erro crítico -- Contactar Kestrel em: $contact" ] ||
  fail "the build-time contact did not reach the packaged program: $complaint"

# The page renders without warnings and carries its sections.
rendered=$(LANG=C.UTF-8 MANWIDTH=100 man --warnings -P cat -l "$page" 2>"$work/man.warnings")
[ ! -s "$work/man.warnings" ] || fail "the manual page renders with warnings: $(cat "$work/man.warnings")"
for section in NOME SINOPSE MODOS ARGUMENTOS 'ESTADO DE SAÍDA' 'CONFIGURAÇÃO NA COMPILAÇÃO' ARQUIVOS; do
  grep -qx "$section" <<<"$rendered" || fail "the rendered page lacks the section $section"
done
for setting in IXC_SUPPORT_CONTACT IXC_RIGHTS_NOTICE IXC_ZABBIX_SERVER; do
  grep -q "$setting" <<<"$rendered" || fail "the rendered page does not describe $setting"
done

# --- the service and the cron job, as installed ----------------------------------------------
unit=$root/lib/systemd/system/ixc-atraso.service
conf=$root/etc/ixc-atraso.conf
cron_file=$root/etc/cron.d/ixc-atraso
active=$(grep -vE '^[[:space:]]*(#|$)|^[A-Z]+=' "$cron_file" || true)
[ -z "$active" ] || fail "the cron file is installed switched on: $active"
# Switching it on is taking the "#" off the one job line.
cron_line=$(sed -n 's/^#\([0-9*].*\)/\1/p' "$cron_file")
[ -n "$cron_line" ] && [ "$(wc -l <<<"$cron_line")" -eq 1 ] ||
  fail "the cron file should hold one commented job line: $cron_line"
read -r minute hour day month weekday user command <<<"$cron_line"
[ "$minute $hour $day $month $weekday" = '*/5 * * * *' ] || fail "the cron job does not run every 5 minutes: $cron_line"
# Root reads the configuration; the collection itself runs as the package's account.
[ "$user" = root ] || fail "the cron job starts as '$user', who cannot read $conf"
grep -q 'setpriv --reuid=ixc-atraso --regid=ixc-atraso .*/usr/bin/ixc-atraso' <<<"$command" ||
  fail "the cron job does not run the collection as ixc-atraso"
grep -q '/usr/bin/ixc-atraso descobertaClientes' <<<"$command" || fail "the cron job does not start a collection"
# The nine arguments of a collection follow the program.
arguments=$(sed 's|.*/usr/bin/ixc-atraso ||; s/;.*//' <<<"$command" | wc -w)
[ "$arguments" -eq 9 ] || fail "the cron job passes $arguments arguments, not 9"
# The password comes from the mode-600 file, so no process of the job shows it in its arguments.
grep -qF '"$DB_PASSWORD"' <<<"$command" || fail "the cron job does not read the password from its file"
for key in DB_HOST DB_PORT DB_USER DB_PASSWORD DATABASE QUESTDB_HOST QUESTDB_ILP_PORT ZABBIX_HOST; do
  grep -qx "$key=" "$conf" || fail "the configuration does not hold an empty $key= to fill in"
done

if [ "$can_install" = 1 ] && command -v systemd-analyze >/dev/null; then
  # verify checks the unit syntax, that ExecStart's program exists and the man: reference.
  SYSTEMD_LOG_LEVEL=warning systemd-analyze verify "$unit" /lib/systemd/system/ixc-atraso.timer \
    /lib/systemd/system/ixc-atraso-verificar.service \
    >"$work/verify.log" 2>&1 || fail "systemd-analyze verify: $(cat "$work/verify.log")"
  [ ! -s "$work/verify.log" ] || fail "systemd-analyze verify: $(cat "$work/verify.log")"
  [ "$(sed -n 's/^TimeoutStartSec=//p' "$unit")" -gt 900 ] ||
    fail "the service's TimeoutStartSec does not leave the program its 900 s"
else
  echo "package_test: systemd units not verified (needs the installed package and systemd-analyze)"
fi

if [ "$can_install" = 1 ]; then
  # --- the operator's first hour: servers, configuration, key ---------------------------------
  questdb=127.0.0.60
  ! ixc_port_answers "$questdb" 9000 || fail "something already listens on $questdb:9000"
  mkdir "$work/mariadb"
  ixc_start_mariadb "$work/mariadb"
  ixc_create_erp ixc_pacote
  ixc_root_sql ixc_pacote <"$source_dir/tests/fixtures/collection/customers.sql"
  head -c 32 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$work/key.psk"
  ixc_start_trapper "127.0.0.1:$zabbix_port" "$work/trapper.jsonl" "$work/trapper.log" \
    --tls-psk-identity "$psk_identity" --tls-psk-file "$work/key.psk" ||
    fail "the trapper stand-in could not take 127.0.0.1:$zabbix_port, compiled into the package"
  IXC_QUESTDB_STANDIN_ARGS=(--user "$quest_user" --password "$quest_password")
  ixc_start_questdb "$questdb" "$work/questdb.log" 9000
  export IXC_QUESTDB_AUTH="$quest_user:$quest_password"

  for setting in DB_HOST=127.0.0.1 "DB_PORT=$IXC_DB_PORT" "DB_USER=$IXC_DB_USER" \
    "DB_PASSWORD=$IXC_DB_PASSWORD" DATABASE=ixc_pacote "QUESTDB_HOST=$questdb" QUESTDB_ILP_PORT=9000 \
    ZABBIX_HOST=provedor-pacote; do
    sed -i "s|^${setting%%=*}=\$|$setting|" "$conf"
  done
  install -m 640 -o root -g ixc-atraso "$work/key.psk" "$psk_file"
  printf '%s\n' "$quest_password" >"$work/questdb.password"
  install -m 640 -o root -g ixc-atraso "$work/questdb.password" "$quest_password_file"
  as() {
    local who=$1
    shift
    setpriv --reuid="$who" --regid="$(id -gn "$who")" --init-groups -- "$@"
  }
  as ixc-atraso cat "$psk_file" >/dev/null 2>&1 || fail "ixc-atraso cannot read the key at $psk_file"
  ! as nobody cat "$psk_file" >/dev/null 2>&1 || fail "other accounts can read the key at $psk_file"
  ! as ixc-atraso cat "$conf" >/dev/null 2>&1 || fail "ixc-atraso can read the ERP password in $conf"

  # The runs' values at the trapper stand-in (each run sends them once) and the QuestDB stand-in.
  arrived() {
    local runs=$1 rows
    python3 - "$work/trapper.jsonl" "$runs" <<'EOF' || fail "after $runs runs, at the trapper stand-in: $(cat "$work/arrivals")"
import json, sys
record, runs = sys.argv[1], int(sys.argv[2])
documents, values, problems = [], {}, []
for line in open(record, encoding="utf-8"):
    for item in (json.loads(line)["request"] or {}).get("data", []):
        if item["host"] != "provedor-pacote":
            problems.append(f"a value for host {item['host']}")
        if item["key"] == "descobertaClientes":
            documents.append(json.loads(item["value"]))
        else:
            values.setdefault(item["key"], []).append(item["value"])
if len(documents) != runs:
    problems.append(f"{len(documents)} discovery documents")
elif sorted(c["{#ID_CLIENTE}"] for c in documents[-1]["data"]) != [1017, 2002, 2003, 2004, 2005, 2006]:
    problems.append(f"the discovery document lists {documents[-1]['data']}")
for key, value in (("valorAtraso[1017]", "189.9"), ("titulosAtraso[1017]", "2"), ("valorAtraso[2006]", "1234.56")):
    if values.get(key) != [value] * runs:
        problems.append(f"{key} is {values.get(key)}, not {value} once a run")
if problems:
    open(sys.argv[1].rsplit("/", 1)[0] + "/arrivals", "w").write("; ".join(problems))
    sys.exit(1)
EOF
    rows=$(ixc_questdb_exec "$questdb" "SELECT count() FROM ixcClientes" | python3 -c 'import json, sys; print(json.load(sys.stdin)["dataset"][0][0])')
    [ "$rows" = 6 ] || fail "after $runs runs, ixcClientes holds $rows rows, not the 6 overdue customers"
    rows=$(ixc_questdb_exec "$questdb" "SELECT count() FROM ixcClientesSoma" | python3 -c 'import json, sys; print(json.load(sys.stdin)["dataset"][0][0])')
    [ "$rows" = "$runs" ] || fail "after $runs runs, ixcClientesSoma holds $rows rows"
  }

  # --- one start of the timer's service, then of the check's --------------------------------
  # As systemd starts a unit: the variables of its EnvironmentFile (read as root) in its
  # environment, each ${NAME} of ExecStart one argument, as User= and Group= with the user's
  # groups, no new privileges, in /, with systemd's PATH and the account's USER, LOGNAME, HOME and
  # SHELL. Prints the run's status; its output goes to $work/NAME.out and .err.
  start_unit() {
    local unit_file=$1 name=$2
    local environment_file
    environment_file=$(sed -n 's/^EnvironmentFile=//p' "$unit_file")
    [ "$environment_file" = "$conf" ] || fail "$unit_file reads '$environment_file', not $conf"
    declare -A settings=()
    while IFS= read -r line; do
      [[ $line =~ ^([A-Za-z_][A-Za-z0-9_]*)=(.*)$ ]] || continue
      name_=${BASH_REMATCH[1]} value=${BASH_REMATCH[2]}
      [[ $value =~ ^\'(.*)\'$ ]] && value=${BASH_REMATCH[1]}
      settings[$name_]=$value
    done <"$environment_file"
    read -ra words <<<"$(sed -n 's/^ExecStart=//p' "$unit_file")"
    argv=()
    for word in "${words[@]}"; do
      if [[ $word =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ ]]; then
        argv+=("${settings[${BASH_REMATCH[1]}]-}")
      elif [[ $word == *'$'* || $word == [-+!@:]* ]]; then
        fail "ExecStart has '$word', which this test does not expand as systemd would"
      else
        argv+=("$word")
      fi
    done
    service_user=$(sed -n 's/^User=//p' "$unit_file")
    service_group=$(sed -n 's/^Group=//p' "$unit_file")
    [ -n "$service_user" ] || fail "$unit_file has no User=: it would run as root"
    IFS=: read -r _ _ _ _ _ home shell < <(getent passwd "$service_user")
    environment=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "USER=$service_user"
      "LOGNAME=$service_user" "HOME=$home" "SHELL=$shell")
    for key in "${!settings[@]}"; do environment+=("$key=${settings[$key]}"); done
    status=0
    (cd / && setpriv --reuid="$service_user" --regid="${service_group:-$service_user}" --init-groups \
      --no-new-privs -- env -i "${environment[@]}" "${argv[@]}") </dev/null >"$work/$name.out" \
      2>"$work/$name.err" || status=$?
    echo "$status"
  }
  # The check first, as the README says to run it before the first collection.
  check_unit=${unit%/ixc-atraso.service}/ixc-atraso-verificar.service
  status=$(start_unit "$check_unit" check)
  [ "$status" -eq 0 ] || fail "the check's unit ended with status $status: $(cat "$work/check.out" "$work/check.err")"
  grep -q "^OK    QuestDB /write: .* aceita o usuário '$quest_user'" "$work/check.out" ||
    fail "the check did not sign in to QuestDB as $quest_user: $(cat "$work/check.out")"
  status=$(start_unit "$unit" service)
  [ "$status" -eq 0 ] && [ "$(tail -n 1 "$work/service.out")" = OK ] ||
    fail "the service's run ended with status $status: $(cat "$work/service.out" "$work/service.err")"
  arrived 1

  # --- the cron line's command, as cron runs it -----------------------------------------------
  # As root, with the file's SHELL and PATH and root's HOME and LOGNAME; its logger is replaced by
  # one that keeps the output here.
  cron_shell=$(sed -n 's/^SHELL=//p' "$cron_file")
  cron_path=$(sed -n 's/^PATH=//p' "$cron_file")
  mkdir "$work/stub"
  printf '#!/bin/sh\ncat >>%s\n' "$work/cron.log" >"$work/stub/logger"
  chmod 755 "$work/stub/logger"
  [ -e /run/lock/ixc-atraso.lock ] || made_lock=1
  cron_run=(env -i "SHELL=$cron_shell" "PATH=$work/stub:$cron_path" HOME=/root LOGNAME=root
    "$cron_shell" -c "$command")
  (cd / && "${cron_run[@]}") </dev/null || fail "the cron job failed: $(cat "$work/cron.log")"
  [ "$(tail -n 1 "$work/cron.log")" = OK ] || fail "the cron job's run did not end in OK: $(cat "$work/cron.log")"
  arrived 2
  # While a run holds the lock, the next one does nothing.
  (cd / && flock /run/lock/ixc-atraso.lock "${cron_run[@]}") </dev/null ||
    fail "the cron job failed while another run held the lock: $(cat "$work/cron.log")"
  arrived 2
  for output in "$work/check.out" "$work/check.err" "$work/service.out" "$work/service.err" "$work/cron.log"; do
    ! grep -qF "$quest_password" "$output" || fail "$output shows the QuestDB password"
  done

  # --- upgrade over itself: the operator's files stay as they are -----------------------------
  echo '# operador: coleta pelo timer do systemd' >>"$cron_file"
  for file in "$conf" "$cron_file" "$psk_file"; do cp -p "$file" "$work/before.${file##*/}"; done
  dpkg -i "$deb" </dev/null >"$work/upgrade.log" 2>&1 || { cat "$work/upgrade.log" >&2; fail "dpkg -i over the installed package failed"; }
  for file in "$conf" "$cron_file" "$psk_file"; do
    cmp -s "$file" "$work/before.${file##*/}" || fail "the upgrade changed $file"
    [ "$(stat -c '%U:%G %a' "$file")" = "$(stat -c '%U:%G %a' "$work/before.${file##*/}")" ] ||
      fail "the upgrade changed the owner or mode of $file"
  done
  [ "$(stat -c '%U:%G %a' /etc/ixc-atraso)" = 'root:ixc-atraso 750' ] || fail "the upgrade changed /etc/ixc-atraso"
  leftovers=$(ls /etc/ixc-atraso.conf.dpkg-* /etc/cron.d/ixc-atraso.dpkg-* 2>/dev/null || true)
  [ -z "$leftovers" ] || fail "the upgrade left $leftovers"

  # --- removal: account and configuration stay; purge: the account stays ----------------------
  dpkg -r ixc-atraso </dev/null >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r failed"; }
  for file in /usr/bin/ixc-atraso "$unit" /lib/systemd/system/ixc-atraso.timer \
    /lib/systemd/system/ixc-atraso-verificar.service; do
    [ ! -e "$file" ] || fail "dpkg -r left $file"
  done
  ! man -w ixc-atraso >/dev/null 2>&1 || fail "dpkg -r left the manual page"
  cmp -s "$conf" "$work/before.ixc-atraso.conf" || fail "dpkg -r changed or removed $conf"
  [ -e "$cron_file" ] || fail "dpkg -r removed the operator's $cron_file"
  getent passwd ixc-atraso >/dev/null || fail "dpkg -r removed the account ixc-atraso"
  rm "$psk_file" "$quest_password_file"
  dpkg -P ixc-atraso </dev/null >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "dpkg -P failed"; }
  installed=0
  for file in "$conf" "$cron_file" /etc/ixc-atraso; do
    [ ! -e "$file" ] || fail "dpkg -P left $file"
  done
  ! dpkg-statoverride --list /etc/ixc-atraso >/dev/null || fail "dpkg -P left the override of /etc/ixc-atraso"
  getent passwd ixc-atraso >/dev/null || fail "dpkg -P removed the account ixc-atraso"
fi
# A package built on the other Debian release (IXC_OTHER_RELEASE_PACKAGE, handed over by the
# fresh-root CI run): dpkg either refuses it for its dependencies, leaving nothing installed, or
# installs a program that runs.
other=${IXC_OTHER_RELEASE_PACKAGE:-}
if [ "$can_install" = 1 ] && [ -n "$other" ]; then
  installed=1
  if dpkg -i "$other" >"$work/other.log" 2>&1; then
    "/usr/bin/ixc-atraso" version >/dev/null || fail "$(basename "$other") installs but its program does not run"
    echo "package_test: $(basename "$other") installs on Debian $release and runs"
  else
    grep -q 'dependency problems' "$work/other.log" || { cat "$work/other.log" >&2; fail "dpkg -i $other failed"; }
    dpkg -P ixc-atraso >/dev/null 2>&1 || true
    [ ! -e /usr/bin/ixc-atraso ] || fail "the refused $(basename "$other") left /usr/bin/ixc-atraso"
    echo "package_test: $(basename "$other") is refused on Debian $release: $(grep -m1 'depends on' "$work/other.log" | sed 's/^ *//')"
  fi
  dpkg -P ixc-atraso >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -P of $(basename "$other") failed"; }
  installed=0
fi
[ -z "${IXC_PACKAGE_KEEP_DIR:-}" ] || cp "$deb" "$IXC_PACKAGE_KEEP_DIR/"

if [ "$can_install" = 1 ]; then
  echo "package_test: package built, installed, run by its service and its cron line, upgraded, removed and purged as expected"
else
  echo "package_test: package built and its unpacked copy run as expected (not installed)"
fi
