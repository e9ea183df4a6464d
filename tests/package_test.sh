#!/usr/bin/env bash
# The Debian package as an operator gets it: scripts/package builds it (with a build-time
# setting of its own, to see the settings reach the binary), its control fields and contents are
# checked, and it is installed with dpkg -i into this machine, so that dpkg itself checks the
# declared dependencies, the program runs from /usr/bin and man finds its page through the
# system's manual path. It is removed again with dpkg -r, also on failure.
#
# Installing needs root and a machine without the package: where either is missing (a developer's
# machine with a real installation), the package is unpacked into a temporary root instead and
# the checks that need the real installation are skipped, saying so.
set -euo pipefail

source_dir=${IXC_SOURCE_DIR:?IXC_SOURCE_DIR must name the source tree}
export PATH=$PATH:/usr/sbin:/sbin

work=$(mktemp -d /tmp/ixc-package.XXXXXX)
installed=0
cleanup() {
  local status=$?
  if [ "$installed" = 1 ]; then
    dpkg -r ixc-atraso >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; status=1; }
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 143' TERM INT
fail() { echo "FAIL: $*" >&2; exit 1; }

contact='pacote@teste.example ou +55 11 0000-0000'
IXC_PACKAGE_BUILD_DIR=$work/build IXC_PACKAGE_DIR=$work/out \
  "$source_dir/scripts/package" "-DIXC_SUPPORT_CONTACT=$contact" >"$work/package.log" 2>&1 ||
  { tail -n 40 "$work/package.log" >&2; fail "scripts/package failed"; }
deb=$(tail -n 1 "$work/package.log")
[ -f "$deb" ] || fail "scripts/package did not name a package on its last line: $deb"

# --- control fields -------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = ixc-atraso ] || fail "Package is '$(field Package)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
banner_version=$("$work/build/bin/ixc-atraso" version | sed -n 2p | awk '{print $NF}')
release=$(. /etc/os-release && echo "$VERSION_ID")
[ "$(field Version)" = "$banner_version+deb$release" ] ||
  fail "the package's Version '$(field Version)' is not the banner's '$banner_version' for Debian $release"
[ "$(basename "$deb")" = "ixc-atraso_${banner_version}+deb${release}_$(dpkg --print-architecture).deb" ] ||
  fail "the package's file name does not name the release: $deb"
depends=$(field Depends)
names=$(sed 's/ ([^)]*)//g; s/ *| */\n/g; s/, /\n/g' <<<"$depends")
# Debian 13 renamed the libraries whose ABI took a 64-bit time_t (libcurl4t64, libgnutls30t64).
for library in libmariadb3 libcurl4 libgnutls30 libc6 libstdc++6; do
  grep -qxF -e "$library" -e "${library}t64" <<<"$names" || fail "Depends lacks $library: $depends"
done
[ -n "$(field Maintainer)" ] || fail "no Maintainer"

# --- contents -------------------------------------------------------------------------------
dpkg-deb -c "$deb" | awk '{print $1, $6}' | sed 's| \./| /|' >"$work/contents"
for entry in '-rwxr-xr-x /usr/bin/ixc-atraso' \
  '-rw-r--r-- /usr/share/man/man1/ixc-atraso.1.gz' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/zabbix/ixc_atraso_template.yaml' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/zabbix/ixc_atraso_template_7.0.yaml' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/cron/ixc-atraso' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/systemd/ixc-atraso.service' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/systemd/ixc-atraso.timer' \
  '-rw-r--r-- /usr/share/doc/ixc-atraso/systemd/ixc-atraso.conf'; do
  grep -qxF -- "$entry" "$work/contents" || fail "the package lacks '$entry'; it holds:
$(cat "$work/contents")"
done
outside=$(awk '{print $2}' "$work/contents" | grep -vE '^/usr/(bin|share/man/man1|share/doc/ixc-atraso)(/|$)' |
  grep -vxE '/usr/|/usr/share/|/usr/share/man/|/usr/share/doc/' || true)
[ -z "$outside" ] || fail "the package installs files elsewhere: $outside"

mkdir "$work/root"
dpkg-deb -x "$deb" "$work/root"
kind=$(file -b "$work/root/usr/bin/ixc-atraso")
case $kind in
  *'not stripped'* | *'with debug_info'*) fail "the packaged binary carries its debugging symbols: $kind" ;;
  ELF*stripped*) ;;
  *) fail "the packaged binary is not a stripped ELF file: $kind" ;;
esac
page_version=$(zcat "$work/root/usr/share/man/man1/ixc-atraso.1.gz" | sed -n 's/^\.TH IXC-ATRASO 1 "[^"]*" "ixc-atraso \([^"]*\)".*/\1/p')
[ "$page_version" = "$banner_version" ] || fail "the manual page is for version '$page_version', the program is $banner_version"

# --- installed ------------------------------------------------------------------------------
can_install=1
if [ "$(id -u)" -ne 0 ]; then
  can_install=0
  echo "package_test: not root: checking an unpacked copy instead of installing"
elif [ -n "$(dpkg-query -W -f='${db:Status-Status}' ixc-atraso 2>/dev/null | grep -vx not-installed)" ]; then
  can_install=0
  echo "package_test: ixc-atraso is already installed here; checking an unpacked copy instead"
fi

if [ "$can_install" = 1 ]; then
  installed=1
  dpkg -i "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "dpkg -i refused the package"; }
  [ "$(dpkg-query -W -f='${db:Status-Status}' ixc-atraso)" = installed ] || fail "dpkg does not list ixc-atraso as installed"
  program=/usr/bin/ixc-atraso
  doc=/usr/share/doc/ixc-atraso
  [ "$(command -v ixc-atraso)" = "$program" ] || fail "ixc-atraso on the PATH is '$(command -v ixc-atraso)'"
  page=$(man -w ixc-atraso) || fail "man -w does not find ixc-atraso"
  [ "$page" = /usr/share/man/man1/ixc-atraso.1.gz ] || fail "man -w finds '$page'"
else
  program=$work/root/usr/bin/ixc-atraso
  doc=$work/root/usr/share/doc/ixc-atraso
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
for section in NOME SINOPSE MODOS ARGUMENTOS 'ESTADO DE SAÍDA' 'CONFIGURAÇÃO NA COMPILAÇÃO'; do
  grep -qx "$section" <<<"$rendered" || fail "the rendered page lacks the section $section"
done
for setting in IXC_SUPPORT_CONTACT IXC_RIGHTS_NOTICE IXC_ZABBIX_SERVER; do
  grep -q "$setting" <<<"$rendered" || fail "the rendered page does not describe $setting"
done

# --- the scheduling examples, as installed ----------------------------------------------------
cron_line=$(grep -vE '^[[:space:]]*(#|$)|^[A-Z]+=' "$doc/cron/ixc-atraso")
[ "$(wc -l <<<"$cron_line")" -eq 1 ] || fail "the cron example should hold one job line: $cron_line"
read -r minute hour day month weekday user command <<<"$cron_line"
[ "$minute $hour $day $month $weekday" = '*/5 * * * *' ] || fail "the cron job does not run every 5 minutes: $cron_line"
getent passwd "$user" >/dev/null || fail "the cron job's user '$user' does not exist"
grep -q '/usr/bin/ixc-atraso descobertaClientes' <<<"$command" || fail "the cron job does not start a collection"
# The nine arguments of a collection follow the program.
arguments=$(sed 's|.*/usr/bin/ixc-atraso ||; s/;.*//' <<<"$command" | wc -w)
[ "$arguments" -eq 9 ] || fail "the cron job passes $arguments arguments, not 9"
# The password comes from the mode-600 file, so no process of the job shows it in its arguments.
grep -qF '"$DB_PASSWORD"' <<<"$command" || fail "the cron job does not read the password from its file"

if [ "$can_install" = 1 ] && command -v systemd-analyze >/dev/null; then
  # verify checks the unit syntax, that ExecStart's program exists and the man: reference.
  mkdir "$work/units"
  sed "s|^EnvironmentFile=.*|EnvironmentFile=$doc/systemd/ixc-atraso.conf|" \
    "$doc/systemd/ixc-atraso.service" >"$work/units/ixc-atraso.service"
  cp "$doc/systemd/ixc-atraso.timer" "$work/units/"
  SYSTEMD_LOG_LEVEL=warning systemd-analyze verify "$work/units/ixc-atraso.service" \
    "$work/units/ixc-atraso.timer" >"$work/verify.log" 2>&1 ||
    fail "systemd-analyze verify: $(cat "$work/verify.log")"
  [ ! -s "$work/verify.log" ] || fail "systemd-analyze verify: $(cat "$work/verify.log")"
  [ "$(sed -n 's/^TimeoutStartSec=//p' "$doc/systemd/ixc-atraso.service")" -gt 900 ] ||
    fail "the service's TimeoutStartSec does not leave the program its 900 s"
else
  echo "package_test: systemd units not verified (needs the installed package and systemd-analyze)"
fi

# --- removal --------------------------------------------------------------------------------
if [ "$can_install" = 1 ]; then
  dpkg -r ixc-atraso >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r failed"; }
  installed=0
  [ ! -e /usr/bin/ixc-atraso ] || fail "dpkg -r left /usr/bin/ixc-atraso"
  ! man -w ixc-atraso >/dev/null 2>&1 || fail "dpkg -r left the manual page"
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
    dpkg -r ixc-atraso >/dev/null 2>&1 || true
    [ ! -e /usr/bin/ixc-atraso ] || fail "the refused $(basename "$other") left /usr/bin/ixc-atraso"
    echo "package_test: $(basename "$other") is refused on Debian $release: $(grep -m1 'depends on' "$work/other.log" | sed 's/^ *//')"
  fi
  dpkg -r ixc-atraso >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r of $(basename "$other") failed"; }
  installed=0
fi
[ -z "${IXC_PACKAGE_KEEP_DIR:-}" ] || cp "$deb" "$IXC_PACKAGE_KEEP_DIR/"

if [ "$can_install" = 1 ]; then
  echo "package_test: package built, installed, run and removed as expected"
else
  echo "package_test: package built and its unpacked copy run as expected (not installed)"
fi
