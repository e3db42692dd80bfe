# The Windows zip (cpack -G ZIP, or the "package" target): the programs in the working
# folder they use by default, ready to run, with a short README.
#
# The settings file is the ready one with two changes for a machine that serves a LAN:
# ServerIP empty (every local address) and Windows line ends.
set(ORV_PACKAGE_SETTINGS ${CMAKE_BINARY_DIR}/package/orvchatserver.cfg)
add_custom_command(
  OUTPUT ${ORV_PACKAGE_SETTINGS}
  COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/workdir/orvchatserver.cfg
          -DOUT=${ORV_PACKAGE_SETTINGS} -P ${PROJECT_SOURCE_DIR}/cmake/lan_settings.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/workdir/orvchatserver.cfg ${PROJECT_SOURCE_DIR}/cmake/lan_settings.cmake
  COMMENT "Settings file for the Windows package")
add_custom_target(orv_package_settings ALL DEPENDS ${ORV_PACKAGE_SETTINGS})

install(TARGETS orvchatserver orvchat-client RUNTIME DESTINATION .)
install(FILES ${ORV_PACKAGE_SETTINGS} ${PROJECT_SOURCE_DIR}/workdir/orvchatserver_command.cfg
        DESTINATION .)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/workdir/language DESTINATION .)
# The block and AFS lists are made here at the first block or AFS command.
install(DIRECTORY DESTINATION data)
# Notepad of older Windows wants CR LF line ends.
set(readme ${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${readme})
file(READ ${readme} text)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${CMAKE_BINARY_DIR}/package/README-windows.txt "${text}")
install(FILES ${CMAKE_BINARY_DIR}/package/README-windows.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME orvchat-server)
set(CPACK_PACKAGE_VENDOR "ORV Chat Server developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME orvchat-server-${PROJECT_VERSION}-windows-x64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
