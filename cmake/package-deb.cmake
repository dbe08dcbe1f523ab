# The Debian packages, one for each install component, made by CPack's DEB
# generator (scripts/package-deb.sh configures a Release build with
# DOORLINK_DEB_PACKAGES=ON and CMAKE_INSTALL_PREFIX=/usr, then runs cpack):
#   libdoorlink<SOVERSION>  the shared library (component runtime)
#   libdoorlink-dev         the header, the .so link, the pkg-config file and
#                           the CMake package (component development)
#   doorlink-tools          doorctl and doorsim, with their manual pages
#                           (component tools)
#   doorlinkd               the fleet service, with its manual page, its
#                           systemd unit, sysusers.d file and configuration
#                           (component service)
# Each gets /usr/share/doc/<package>/copyright (machine-readable, from
# LICENSE) and changelog.Debian.gz, and the upstream changelog
# (CHANGELOG.md) as changelog.gz where the source has one. Their
# dependencies are those dpkg-shlibdeps finds, and the -dev and the tools'
# packages depend on the library's package of the same version.
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "The Debian packages are built with CMAKE_INSTALL_PREFIX=/usr")
endif()
if(NOT DOORLINK_BUILD_TOOLS)
    message(FATAL_ERROR "The Debian packages need the tools (DOORLINK_BUILD_TOOLS)")
endif()
# A packaged doorlinkd compiles the policy by the host's clock alone: the
# clock of the tests would let an environment variable move its date.
if(DOORLINKD_TEST_CLOCK)
    message(FATAL_ERROR "The Debian packages are built without DOORLINKD_TEST_CLOCK")
endif()

set(DOORLINK_DEB_MAINTAINER "the doorlink maintainers <maintainers@doorlink.invalid>" CACHE STRING
    "The Maintainer of the Debian packages")
set(DOORLINK_DEB_REVISION 1 CACHE STRING "The Debian revision: the packages' version is VERSION-REVISION")
set(DOORLINK_DEB_VERSION "${PROJECT_VERSION}-${DOORLINK_DEB_REVISION}")
get_target_property(DOORLINK_SOVERSION doorlink SOVERSION)
set(DOORLINK_DEB_RUNTIME "libdoorlink${DOORLINK_SOVERSION}")
set(DOORLINK_DEB_DEV "libdoorlink-dev")
set(DOORLINK_DEB_TOOLS "doorlink-tools")
set(DOORLINK_DEB_SERVICE "doorlinkd")
set(DOORLINK_DEB_DIR ${CMAKE_BINARY_DIR}/deb)
file(MAKE_DIRECTORY ${DOORLINK_DEB_DIR})

find_program(DOORLINK_GZIP gzip REQUIRED)
find_program(DOORLINK_HELP2MAN help2man REQUIRED)

# The copyright files: the holder and the licence text come from LICENSE
# (the line "Copyright (c) YEARS HOLDER", and every line after it).
file(READ ${CMAKE_SOURCE_DIR}/LICENSE DOORLINK_LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
if(NOT DOORLINK_LICENSE MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
    message(FATAL_ERROR "LICENSE holds no line \"Copyright (c) YEARS HOLDER\" before the licence text")
endif()
set(DOORLINK_COPYRIGHT "${CMAKE_MATCH_1}")
# In the format of debian/copyright: each line indented, empty lines as " .".
string(REGEX REPLACE "\n\n" "\n.\n" DOORLINK_LICENSE_TEXT "${CMAKE_MATCH_2}")
string(REGEX REPLACE "\n" "\n " DOORLINK_LICENSE_TEXT " ${DOORLINK_LICENSE_TEXT}")
configure_file(${CMAKE_SOURCE_DIR}/packaging/deb/copyright.in ${DOORLINK_DEB_DIR}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/deb/copyright-tools.in ${DOORLINK_DEB_DIR}/copyright-tools @ONLY)

# The upstream changelog, where the source has one.
set(DOORLINK_UPSTREAM_CHANGELOG ${CMAKE_SOURCE_DIR}/CHANGELOG.md)
set(DOORLINK_DEB_CHANGES_NOTE "")
if(EXISTS ${DOORLINK_UPSTREAM_CHANGELOG})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DOORLINK_UPSTREAM_CHANGELOG})
    execute_process(COMMAND ${DOORLINK_GZIP} -9nc ${DOORLINK_UPSTREAM_CHANGELOG}
                    OUTPUT_FILE ${DOORLINK_DEB_DIR}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
    set(DOORLINK_DEB_CHANGES_NOTE "\n    The changes of each release are in changelog.gz beside this file.")
endif()

# The Debian changelog and the manual pages are dated by SOURCE_DATE_EPOCH
# where it is set, else by the commit built (else now), so that the same
# commit gives the same files.
set(DOORLINK_DEB_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(DOORLINK_DEB_EPOCH STREQUAL "")
    execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE DOORLINK_DEB_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT DOORLINK_DEB_EPOCH MATCHES "^[0-9]+$")
    string(TIMESTAMP DOORLINK_DEB_EPOCH "%s" UTC)
endif()
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${DOORLINK_DEB_EPOCH})
string(TIMESTAMP DOORLINK_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
configure_file(${CMAKE_SOURCE_DIR}/packaging/deb/changelog.in ${DOORLINK_DEB_DIR}/changelog.Debian @ONLY)
execute_process(COMMAND ${DOORLINK_GZIP} -9nc ${DOORLINK_DEB_DIR}/changelog.Debian
                OUTPUT_FILE ${DOORLINK_DEB_DIR}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)

foreach(part runtime:${DOORLINK_DEB_RUNTIME} development:${DOORLINK_DEB_DEV} tools:${DOORLINK_DEB_TOOLS}
             service:${DOORLINK_DEB_SERVICE})
    string(REPLACE ":" ";" part "${part}")
    list(GET part 0 component)
    list(GET part 1 package)
    set(copyright ${DOORLINK_DEB_DIR}/copyright)
    if(component STREQUAL "tools" OR component STREQUAL "service")
        set(copyright ${DOORLINK_DEB_DIR}/copyright-tools)
    endif()
    install(FILES ${copyright} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} RENAME copyright
            COMPONENT ${component})
    install(FILES ${DOORLINK_DEB_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component})
    if(EXISTS ${DOORLINK_UPSTREAM_CHANGELOG})
        install(FILES ${DOORLINK_DEB_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
                COMPONENT ${component})
    endif()
endforeach()

# The manual pages of doorctl, doorsim and doorlinkd, made by help2man from
# --help and --version.
set(DOORLINK_MAN_PAGES)
foreach(part "doorctl:talk to door access controllers through the doorlink library"
             "doorsim:simulated door access controllers and card reader"
             "doorlinkd:keep a fleet of door access controllers in step with a database")
    string(FIND "${part}" ":" colon)
    string(SUBSTRING "${part}" 0 ${colon} tool)
    math(EXPR colon "${colon} + 1")
    string(SUBSTRING "${part}" ${colon} -1 summary)
    add_custom_command(OUTPUT ${DOORLINK_DEB_DIR}/${tool}.1.gz
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${DOORLINK_DEB_EPOCH}
                ${DOORLINK_HELP2MAN} --no-info --section 1 --name ${summary}
                --output ${DOORLINK_DEB_DIR}/${tool}.1 $<TARGET_FILE:${tool}>
        COMMAND ${DOORLINK_GZIP} -9nf ${DOORLINK_DEB_DIR}/${tool}.1
        DEPENDS ${tool} COMMENT "Manual page of ${tool}" VERBATIM)
    list(APPEND DOORLINK_MAN_PAGES ${DOORLINK_DEB_DIR}/${tool}.1.gz)
endforeach()
add_custom_target(doorlink_man_pages ALL DEPENDS ${DOORLINK_MAN_PAGES})
install(FILES ${DOORLINK_DEB_DIR}/doorctl.1.gz ${DOORLINK_DEB_DIR}/doorsim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
install(FILES ${DOORLINK_DEB_DIR}/doorlinkd.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT service)

# doorlinkd as a system service: its unit, the user it runs as (made by the
# package's postinst from its sysusers.d file) and its settings, a conffile.
# The service is not enabled: it needs its database first (see the unit).
install(FILES ${CMAKE_SOURCE_DIR}/service/doorlinkd.service DESTINATION lib/systemd/system COMPONENT service)
install(FILES ${CMAKE_SOURCE_DIR}/service/doorlinkd.sysusers DESTINATION lib/sysusers.d RENAME doorlinkd.conf
        COMPONENT service)
install(FILES ${CMAKE_SOURCE_DIR}/service/doorlinkd.toml DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/doorlinkd
        COMPONENT service)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME doorlink)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the doorlink maintainers")
set(CPACK_PACKAGE_CONTACT ${DOORLINK_DEB_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL runtime development tools service)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
# cmake/package-deb-cpack.cmake: settings for the time cpack runs.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package-deb-cpack.cmake)

set(CPACK_DEBIAN_PACKAGE_RELEASE ${DOORLINK_DEB_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SOURCE doorlink)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies: what dpkg-shlibdeps finds (doorctl's libdoorlink.so.N in
# this build, for it is not installed yet), and the library's package of the
# same version for the other two; the library's package declares its shlibs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_SERVICE_DEPENDS runtime)
# serve --time-zone reads the zone files.
set(CPACK_DEBIAN_SERVICE_PACKAGE_RECOMMENDS tzdata)

# What the packages of the library say of it first.
set(DOORLINK_DEB_ABOUT "doorlink talks to networked door access controllers over UDP. Each of its
plain C exports does one job against one controller (read or set its clock,
open a door, download card lists, fetch the access records with their
photos, take the error reports and photos they push) or works on the data
files the library keeps for its host.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${DOORLINK_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The dynamic loader's cache is refreshed by libc's ldconfig trigger
# (packaging/deb/triggers), not by maintainer scripts: naming a postinst and
# a postrm that do not exist keeps CPack from writing its own, which call
# ldconfig, and ships none.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/deb/triggers
    ${DOORLINK_DEB_DIR}/no-maintainer-scripts/postinst ${DOORLINK_DEB_DIR}/no-maintainer-scripts/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "client library for networked door access controllers
${DOORLINK_DEB_ABOUT} Every export may be called from any
thread.

This package contains the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${DOORLINK_DEB_DEV})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "client library for networked door access controllers - development files
${DOORLINK_DEB_ABOUT}

This package contains what programs that use doorlink are built with: the
header doorlink/doorlink.h, whose comments are the API reference, the
pkg-config file and the CMake package (find_package(doorlink)).")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${DOORLINK_DEB_TOOLS})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "command-line tool and simulator for networked door access controllers
doorctl talks to door access controllers from a terminal or a script through
the doorlink library: a subcommand for each family of commands, results as
text or as JSON, and a demo that runs every workflow against an embedded
simulated controller.

doorsim simulates any number of controllers on loopback addresses, with a
log of every datagram in hex and fault injection (loss, silence, duplicates,
delays, reordering, wrong or replayed replies), and a card reader on a
pseudo-terminal.")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME ${DOORLINK_DEB_SERVICE})
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/deb/doorlinkd/postinst
    ${CMAKE_SOURCE_DIR}/packaging/deb/doorlinkd/conffiles)
set(CPACK_DEBIAN_SERVICE_DESCRIPTION "fleet service for networked door access controllers
doorlinkd keeps the cards of many door access controllers in step with one
database (SQLite, or PostgreSQL shared by several instances): it downloads
each controller's card list and reads it back to verify it, reporting any
drift card by card and field by field. It archives the controllers' access
records and photos into the database exactly once, also across crashes,
and drives each controller under a lease, so that instances sharing a
database never drive one controller at once.

As a systemd service (doorlinkd serve) it syncs and archives on a schedule,
turns the error reports and photos the controllers push into events, keeps
their clocks set, and serves a REST API, a web page and MQTT.")

include(CPack)
