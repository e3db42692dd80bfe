# Installing and packaging: `cmake --install` puts the programs, their manual pages, the
# default working-folder files, the systemd unit and its system user in place; `cpack -G
# DEB` makes the package orvchat-server of them (see scripts/package.sh).
include(GNUInstallDirs)

set(ORV_SERVICE_CONFDIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/orvchat")
set(ORV_SHARED_WORKDIR "${CMAKE_INSTALL_FULL_DATADIR}/orvchat/workdir")
set(ORV_SETUP_SCRIPT "${CMAKE_INSTALL_FULL_LIBEXECDIR}/orvchat/setup-workdir")
set(ORV_SERVER_PATH "${CMAKE_INSTALL_FULL_BINDIR}/orvchatserver")
set(ORV_SYSUSERS_FILE "${CMAKE_INSTALL_PREFIX}/lib/sysusers.d/orvchat.conf")
# The working folder links to the settings and the language files relatively, so the links
# hold inside a package root too.
file(RELATIVE_PATH ORV_LINK_TO_CONFDIR "${ORV_SERVICE_WORKDIR}" "${ORV_SERVICE_CONFDIR}")
file(RELATIVE_PATH ORV_LINK_TO_SHARED "${ORV_SERVICE_WORKDIR}" "${ORV_SHARED_WORKDIR}")

set(ORV_PACKAGING_OUT "${PROJECT_BINARY_DIR}/packaging")
foreach(file orvchatserver.service setup-workdir postinst prerm postrm)
  configure_file("${PROJECT_SOURCE_DIR}/packaging/${file}.in" "${ORV_PACKAGING_OUT}/${file}" @ONLY)
endforeach()
configure_file("${PROJECT_SOURCE_DIR}/packaging/orvchat.sysusers" "${ORV_PACKAGING_OUT}/orvchat.conf"
               @ONLY)
file(WRITE "${ORV_PACKAGING_OUT}/conffiles"
     "${ORV_SERVICE_CONFDIR}/orvchatserver.cfg\n${ORV_SERVICE_CONFDIR}/orvchatserver_command.cfg\n")

install(TARGETS orvchatserver orvchatctl orvchat-client RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages made from each program's --help and --version.
find_program(ORV_HELP2MAN help2man)
if(ORV_HELP2MAN)
  set(ORV_MAN_PAGES "")
  set(orvchatserver_summary "LAN chat server with an operator console")
  set(orvchatctl_summary "operate a running orvchatserver")
  set(orvchat-client_summary "terminal chat client for the ORV chat server")
  foreach(program orvchatserver orvchatctl orvchat-client)
    set(page "${ORV_PACKAGING_OUT}/${program}.1")
    add_custom_command(
      OUTPUT "${page}"
      COMMAND "${ORV_HELP2MAN}" --no-info --section=1 "--name=${${program}_summary}"
              "--source=ORV Chat Server" "--output=${page}" "$<TARGET_FILE:${program}>"
      DEPENDS ${program}
      COMMENT "Manual page of ${program}"
      VERBATIM)
    list(APPEND ORV_MAN_PAGES "${page}")
  endforeach()
  add_custom_target(orv_man_pages ALL DEPENDS ${ORV_MAN_PAGES})
  install(FILES ${ORV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "orvchat: help2man not found, no manual pages")
endif()

# The settings file's page, written by hand (a test keeps it in step with the keys, defaults
# and ranges the server knows).
install(FILES "${PROJECT_SOURCE_DIR}/docs/orvchatserver.cfg.5" DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

# The default working folder: what a new server starts from. The settings come from their
# own template, listening on every address (an installed server serves its LAN), never from
# the checkout's workdir/orvchatserver.cfg, which holds a developer's local edits.
set(ORV_SETTINGS_TEMPLATE "${PROJECT_SOURCE_DIR}/packaging/orvchatserver.cfg")
install(FILES "${ORV_SETTINGS_TEMPLATE}" "${PROJECT_SOURCE_DIR}/workdir/orvchatserver_command.cfg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/orvchat/workdir")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/workdir/language"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/orvchat/workdir")
# The editable settings of the service.
install(FILES "${ORV_SETTINGS_TEMPLATE}" "${PROJECT_SOURCE_DIR}/workdir/orvchatserver_command.cfg"
        DESTINATION "${ORV_SERVICE_CONFDIR}")
# What an admin reads first, and whose work is in the programs.
set(ORV_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/orvchat-server")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/packaging/copyright"
        DESTINATION "${ORV_DOC_DIR}")
install(FILES "${PROJECT_SOURCE_DIR}/docs/protocol.md" "${PROJECT_SOURCE_DIR}/docs/decisions.md"
        DESTINATION "${ORV_DOC_DIR}/docs")
install(PROGRAMS "${ORV_PACKAGING_OUT}/setup-workdir"
        DESTINATION "${CMAKE_INSTALL_LIBEXECDIR}/orvchat")
install(FILES "${ORV_PACKAGING_OUT}/orvchatserver.service" DESTINATION lib/systemd/system)
install(FILES "${ORV_PACKAGING_OUT}/orvchat.conf" DESTINATION lib/sysusers.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvchat-server)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "ORV Chat Server maintainers <orvchat@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LAN chat server with an operator console, run as a service")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Relays the chat protocol of LAN messengers over TCP, keeps the table of connected users\n"
       "and answers their requests. Runs headless under systemd as the user orvchat in\n"
       "${ORV_SERVICE_WORKDIR}, with its settings in ${ORV_SERVICE_CONFDIR}. orvchatctl\n"
       "operates the running server; so does its web console from a browser, once\n"
       "\"orvchatserver --set-web-password\" has set its password and WebConsole its address.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${ORV_PACKAGING_OUT}/conffiles;${ORV_PACKAGING_OUT}/postinst;${ORV_PACKAGING_OUT}/prerm;${ORV_PACKAGING_OUT}/postrm")
# /etc/orvchat lies outside the prefix: install with DESTDIR so absolute paths land in the
# package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
