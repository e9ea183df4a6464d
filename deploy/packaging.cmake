# The Debian package: the program (installed by src/), its manual page, the Zabbix template as
# documentation, and the service as Debian daemons ship one, switched off: the timer and the cron
# job run the collection as the system account ixc-atraso (made by deploy/debian/postinst), with
# the arguments from /etc/ixc-atraso.conf and a PSK build's key in /etc/ixc-atraso/. Built with
# `cpack -G DEB` (scripts/package).
include(GNUInstallDirs)

set(IXC_PACKAGE_MAINTAINER "Kestrel <suporte@kestrel.example>"
    CACHE STRING "Maintainer field of the Debian package (name <e-mail>)")

# The banner's version is the package's version (with the release after it, below), so that
# `ixc-atraso version` and dpkg agree.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/app/console.h ixc_version_line
     REGEX "VERSION = \"[0-9.]+\"")
if(NOT ixc_version_line MATCHES "\"([0-9.]+)\"")
  message(FATAL_ERROR "packaging: no VERSION = \"x.y.z\" in src/app/console.h")
endif()
set(IXC_VERSION ${CMAKE_MATCH_1})
string(REPLACE "." ";" ixc_version_parts ${IXC_VERSION})
list(APPEND ixc_version_parts 0 0)
list(GET ixc_version_parts 0 CPACK_PACKAGE_VERSION_MAJOR)
list(GET ixc_version_parts 1 CPACK_PACKAGE_VERSION_MINOR)
list(GET ixc_version_parts 2 CPACK_PACKAGE_VERSION_PATCH)

# A package is built for the Debian release it was built on: its dependencies are that release's
# libraries (Debian 13's are the t64 ones). The version names the release, so that the packages
# of one version for Debian 12 and 13 never share a file name: 1.2.3+deb12, 1.2.3+deb13.
file(STRINGS /etc/os-release ixc_release_line REGEX "^VERSION_ID=")
if(NOT ixc_release_line MATCHES "^VERSION_ID=\"?([0-9]+)")
  message(FATAL_ERROR "packaging: no numeric VERSION_ID in /etc/os-release")
endif()
set(IXC_PACKAGE_VERSION "${IXC_VERSION}+deb${CMAKE_MATCH_1}")

# Debian keeps manual pages compressed; -n leaves the name and time out, so that two builds of
# the same page give the same package.
set(ixc_man_source ${CMAKE_SOURCE_DIR}/deploy/man/ixc-atraso.1)
set(ixc_man_gz ${CMAKE_BINARY_DIR}/deploy/ixc-atraso.1.gz)
add_custom_command(
  OUTPUT ${ixc_man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/deploy
  COMMAND sh -c "gzip -9 -n -c '${ixc_man_source}' > '${ixc_man_gz}'"
  DEPENDS ${ixc_man_source}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(ixc_manual_page ALL DEPENDS ${ixc_man_gz})

set(ixc_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/ixc-atraso)
install(FILES ${ixc_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The templates' description points operators at the guide beside them.
install(FILES ${CMAKE_SOURCE_DIR}/deploy/zabbix/ixc_atraso_template.yaml
              ${CMAKE_SOURCE_DIR}/deploy/zabbix/ixc_atraso_template_7.0.yaml
              ${CMAKE_SOURCE_DIR}/deploy/zabbix/README.md
        DESTINATION ${ixc_doc}/zabbix)
install(FILES ${CMAKE_SOURCE_DIR}/deploy/debian/copyright DESTINATION ${ixc_doc})
# Nothing enables the units or the cron line: they would run with the empty configuration.
install(FILES
  ${CMAKE_SOURCE_DIR}/deploy/systemd/ixc-atraso.service
  ${CMAKE_SOURCE_DIR}/deploy/systemd/ixc-atraso.timer
  ${CMAKE_SOURCE_DIR}/deploy/systemd/ixc-atraso-verificar.service
  DESTINATION /lib/systemd/system)
# Both are conffiles (deploy/debian/conffiles): dpkg keeps the operator's copy on upgrades. The
# configuration holds the ERP password, so only root reads it (systemd and the cron line read it
# as root before they switch to ixc-atraso).
install(FILES ${CMAKE_SOURCE_DIR}/deploy/systemd/ixc-atraso.conf DESTINATION /etc
  PERMISSIONS OWNER_READ OWNER_WRITE)
install(FILES ${CMAKE_SOURCE_DIR}/deploy/cron/ixc-atraso DESTINATION /etc/cron.d)
# The PSK key's folder; postinst gives it to the group ixc-atraso, which does not exist at unpack.
install(DIRECTORY DESTINATION /etc/ixc-atraso
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ixc-atraso)
set(CPACK_PACKAGE_VERSION ${IXC_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_CONTACT ${IXC_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "coleta a inadimplência dos clientes do ERP IXC para o Zabbix e o QuestDB")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Lê do banco MySQL/MariaDB do ERP IXC os clientes com títulos vencidos em aberto, envia ao\n"
  "Zabbix os totais, a descoberta de clientes e os valores de cada cliente, e guarda as linhas\n"
  "no QuestDB. Traz os templates do Zabbix 6.0 e 7.0, um serviço e timer do systemd e uma linha\n"
  "do cron, desligados até que /etc/ixc-atraso.conf seja preenchido.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# dpkg-shlibdeps names the exact libraries the binary links (libmariadb3, libcurl4, libgnutls30,
# libc6, ...) with their minimum versions; the fixed list is for a machine without it (no dpkg-dev).
find_program(IXC_DPKG_SHLIBDEPS dpkg-shlibdeps)
# passwd is for postinst's groupadd and useradd; the rest of what the maintainer scripts and the
# cron line use (getent, dpkg-statoverride, flock, setpriv, logger) is Essential.
if(IXC_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libmariadb3, libcurl4, libgnutls30, passwd")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/deploy/debian/postinst
  ${CMAKE_SOURCE_DIR}/deploy/debian/prerm
  ${CMAKE_SOURCE_DIR}/deploy/debian/postrm
  ${CMAKE_SOURCE_DIR}/deploy/debian/conffiles)

# The changelog's newest entry names the version dpkg shows; Debian calls it changelog.gz in a
# native package (no revision) and changelog.Debian.gz otherwise. Compressed as the manual page.
if(CPACK_DEBIAN_PACKAGE_VERSION)
  set(IXC_DEBIAN_VERSION ${CPACK_DEBIAN_PACKAGE_VERSION})
else()
  set(IXC_DEBIAN_VERSION ${CPACK_PACKAGE_VERSION})
endif()
if(CPACK_DEBIAN_PACKAGE_RELEASE)
  string(APPEND IXC_DEBIAN_VERSION "-${CPACK_DEBIAN_PACKAGE_RELEASE}")
endif()
if(CPACK_DEBIAN_PACKAGE_EPOCH)
  set(IXC_DEBIAN_VERSION "${CPACK_DEBIAN_PACKAGE_EPOCH}:${IXC_DEBIAN_VERSION}")
endif()
if(IXC_DEBIAN_VERSION MATCHES "-")
  set(ixc_changelog_name changelog.Debian)
else()
  set(ixc_changelog_name changelog)
endif()
configure_file(${CMAKE_SOURCE_DIR}/deploy/debian/changelog.in
  ${CMAKE_BINARY_DIR}/deploy/${ixc_changelog_name} @ONLY)
execute_process(COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/deploy/${ixc_changelog_name}
  OUTPUT_FILE ${CMAKE_BINARY_DIR}/deploy/${ixc_changelog_name}.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/deploy/${ixc_changelog_name}.gz DESTINATION ${ixc_doc})

include(CPack)
