# What a Windows build adds to every target: the Windows version the programs ask for,
# a static runtime (the programs run from a folder without any DLL beside them), the
# standalone Asio, CLI11 and nlohmann/json headers, and GoogleTest built from source for the
# tests.

# Windows 7 and later: Asio's IOCP back-end and the IP Helper calls need no more.
target_compile_definitions(orv_options INTERFACE _WIN32_WINNT=0x0601 WINVER=0x0601
                                                 WIN32_LEAN_AND_MEAN NOMINMAX)
if(MINGW)
  # libgcc, libstdc++ and winpthread linked in: nothing to ship but the .exe files.
  target_link_options(orv_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

# Standalone Asio is header-only. A cross build borrows the host's copy (libasio-dev)
# through a folder that holds nothing else, so the host's other headers stay out of reach.
if(CMAKE_CROSSCOMPILING)
  set(ORV_ASIO_INCLUDE_DIR /usr/include CACHE PATH "Folder holding asio.hpp and asio/")
  if(NOT EXISTS ${ORV_ASIO_INCLUDE_DIR}/asio.hpp)
    message(FATAL_ERROR "asio.hpp not found in ${ORV_ASIO_INCLUDE_DIR} (Debian: libasio-dev)")
  endif()
  set(asio_shim ${CMAKE_BINARY_DIR}/asio-include)
  file(MAKE_DIRECTORY ${asio_shim})
  file(CREATE_LINK ${ORV_ASIO_INCLUDE_DIR}/asio.hpp ${asio_shim}/asio.hpp SYMBOLIC)
  file(CREATE_LINK ${ORV_ASIO_INCLUDE_DIR}/asio ${asio_shim}/asio SYMBOLIC)
  target_include_directories(orv_options SYSTEM INTERFACE ${asio_shim})

  # CLI11, header-only too (libcli11-dev), the same way; its own CMake package would hand
  # the whole of /usr/include to the cross compiler.
  set(ORV_CLI11_INCLUDE_DIR /usr/include CACHE PATH "Folder holding CLI/CLI.hpp")
  if(NOT EXISTS ${ORV_CLI11_INCLUDE_DIR}/CLI/CLI.hpp)
    message(FATAL_ERROR "CLI/CLI.hpp not found in ${ORV_CLI11_INCLUDE_DIR} (Debian: libcli11-dev)")
  endif()
  set(cli11_shim ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${cli11_shim})
  file(CREATE_LINK ${ORV_CLI11_INCLUDE_DIR}/CLI ${cli11_shim}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${cli11_shim})

  # nlohmann/json, header-only too (nlohmann-json3-dev), the same way.
  set(ORV_JSON_INCLUDE_DIR /usr/include CACHE PATH "Folder holding nlohmann/json.hpp")
  if(NOT EXISTS ${ORV_JSON_INCLUDE_DIR}/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann/json.hpp not found in ${ORV_JSON_INCLUDE_DIR} "
                        "(Debian: nlohmann-json3-dev)")
  endif()
  set(json_shim ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${json_shim})
  file(CREATE_LINK ${ORV_JSON_INCLUDE_DIR}/nlohmann ${json_shim}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${json_shim})
endif()

# No prebuilt GoogleTest for the target: build it from the sources libgtest-dev ships.
if(ORV_BUILD_TESTS AND NOT TARGET GTest::gtest)
  set(ORV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  if(NOT EXISTS ${ORV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${ORV_GOOGLETEST_SOURCE_DIR} "
                        "(Debian: googletest, brought by libgtest-dev)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${ORV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL
                   SYSTEM)
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
