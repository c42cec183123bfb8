# Installing the station and packing it as one Debian package:
#
#   cmake --build build --target package      (or: cd build && cpack)
#
# gives build/quenta_<version>-1_<arch>.deb with the engine library and its
# headers, the console Mirolt (desktop entry and icon), the tools, and the
# systemd units of the headless station, the chain's sync program and the SIP
# bridge, each run by a system user of its own. What lies outside the prefix
# (the units, /etc/quenta) belongs to the component "system", which only the
# package installs: `cmake --install` to a prefix never writes to /etc or
# /lib. Test programs, benchmarks and fuzzers have no install rules.

set(QUENTA_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)

if(TARGET Mirolt)
  install(TARGETS Mirolt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QUENTA_PACKAGING}/Mirolt.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QUENTA_PACKAGING}/Mirolt.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# The SIP bridge and the SIP server's configuration are installed by tools/quenta-sipgw.
install(FILES README.md docs/chain.md docs/security.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(QUENTA_UNITS quenta-station.service quenta-sync.service quenta-sipgw.service)
list(TRANSFORM QUENTA_UNITS PREPEND ${QUENTA_PACKAGING}/)
install(FILES ${QUENTA_UNITS} DESTINATION /lib/systemd/system COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${QUENTA_PACKAGING}/sync.conf ${QUENTA_PACKAGING}/sipgw.env
  DESTINATION /etc/quenta COMPONENT system EXCLUDE_FROM_ALL)

set(QUENTA_PACKAGE_MAINTAINER "quenta developers <quenta@localhost>" CACHE STRING
  "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "call-billing station for a shop that resells telephone calls")
set(CPACK_PACKAGE_DESCRIPTION
  "The billing station of a call shop with IP telephone gateways: it tracks\n"
  "every booth's line live, turns each finished call into a call record,\n"
  "prices it from the shop's rates and keeps calls, bills and shifts in an\n"
  "SQLite database. The console Mirolt (in Chinese) is the counter's\n"
  "operator station: line monitor, checkout with receipts and deposits,\n"
  "rate editor, shift handover, operators and statistics reports.\n"
  "\n"
  "Also: the engine library libquenta with its headers, the gateway\n"
  "simulator gwsim, quenta-monitor (the station without a console),\n"
  "quenta-sync (a chain's copy to PostgreSQL), and systemd units for the\n"
  "headless station, the sync program and the SIP bridge.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "${QUENTA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUENTA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs load are found by dpkg-shlibdeps (dpkg-dev); the
# package's own libquenta gets a shlibs entry. Qt finds the display only
# through its platform plugins, which no program links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "fonts-wqy-zenhei | fonts-noto-cjk, qt6-translations-l10n, kamailio, kamailio-extra-modules, baresip")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "postgresql-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${QUENTA_PACKAGING}/postinst ${QUENTA_PACKAGING}/prerm ${QUENTA_PACKAGING}/postrm ${QUENTA_PACKAGING}/conffiles
  ${QUENTA_PACKAGING}/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Every component (the prefix's files and "system") in the one package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/demo/")
include(CPack)
