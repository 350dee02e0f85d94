# Third-party code comes from Debian packages (see scripts/setup.sh); nothing
# of it is kept in this repository.

# cJSON: Debian's library natively; for Windows, the Debian source package
# that scripts/setup.sh unpacks into .deps/cjson, compiled here.
if(WIN32)
  set(PARLINO_CJSON_DIR "${PROJECT_SOURCE_DIR}/.deps/cjson" CACHE PATH "Folder holding cjson/cJSON.c")
  if(NOT EXISTS "${PARLINO_CJSON_DIR}/cjson/cJSON.c")
    message(FATAL_ERROR "cJSON source missing in ${PARLINO_CJSON_DIR}: run scripts/setup.sh")
  endif()
  add_library(parlino_cjson STATIC "${PARLINO_CJSON_DIR}/cjson/cJSON.c")
  target_include_directories(parlino_cjson SYSTEM PUBLIC "${PARLINO_CJSON_DIR}")
else()
  find_path(CJSON_INCLUDE_DIR cjson/cJSON.h REQUIRED)
  find_library(CJSON_LIBRARY cjson REQUIRED)
  add_library(parlino_cjson INTERFACE)
  target_include_directories(parlino_cjson SYSTEM INTERFACE "${CJSON_INCLUDE_DIR}")
  target_link_libraries(parlino_cjson INTERFACE "${CJSON_LIBRARY}")
endif()
add_library(parlino::cjson ALIAS parlino_cjson)

# toml++ is header-only. The Windows build must not see /usr/include as a
# whole, so it gets a folder that holds nothing but a link to toml++.
find_path(TOMLPP_HEADER_DIR toml++/toml.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_toml_dir "${CMAKE_BINARY_DIR}/deps/tomlplusplus")
file(MAKE_DIRECTORY "${_toml_dir}")
if(NOT EXISTS "${_toml_dir}/toml++")
  file(CREATE_LINK "${TOMLPP_HEADER_DIR}/toml++" "${_toml_dir}/toml++" SYMBOLIC)
endif()
add_library(parlino_tomlplusplus INTERFACE)
target_include_directories(parlino_tomlplusplus SYSTEM INTERFACE "${_toml_dir}")
target_compile_definitions(parlino_tomlplusplus INTERFACE TOML_HEADER_ONLY=1 TOML_EXCEPTIONS=0)
add_library(parlino::tomlplusplus ALIAS parlino_tomlplusplus)

if(PARLINO_BUILD_TESTS)
  # The installed GoogleTest suits the plain native build. The Windows build,
  # and the thread-sanitized one (whose libraries must all be instrumented),
  # compile it from Debian's source package.
  if(WIN32 OR "thread" IN_LIST PARLINO_SANITIZE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
    if(WIN32)
      # Nobody steps into GoogleTest under Wine; its debug information only
      # slows MinGW's g++ down (see tests/CMakeLists.txt).
      foreach(target gtest gmock)
        target_compile_options(${target} PRIVATE -g0)
      endforeach()
    endif()
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

if(PARLINO_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
