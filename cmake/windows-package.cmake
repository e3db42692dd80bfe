# The Windows zip (cpack -G ZIP, or the "package" target): the programs in the working
# folder they use by default, ready to run, with a short README.
#
# The settings file is the one the Linux package starts from (packaging/orvchatserver.cfg,
# ServerIP empty: a machine that runs the server serves its LAN), with Windows line ends;
# never the checkout's workdir/orvchatserver.cfg, which holds a developer's local edits.
set(settings ${PROJECT_SOURCE_DIR}/packaging/orvchatserver.cfg)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${settings})
file(READ ${settings} text)
if(NOT text MATCHES "\n<ServerIP>\n</ServerIP>\n")
  message(FATAL_ERROR "${settings}: ServerIP must be empty in the shipped settings")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
set(ORV_PACKAGE_SETTINGS ${CMAKE_BINARY_DIR}/package/orvchatserver.cfg)
file(WRITE ${ORV_PACKAGE_SETTINGS} "${text}")

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
