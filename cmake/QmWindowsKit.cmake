# The Windows cross-build's libraries: Qt 6 and SQLite built for MinGW-w64, and cpp-httplib's
# header for the board, kept as three archives outside the project and unpacked into the build
# folder. Sets what find_package(Qt6) and find_package(SQLite3) need, QM_WINDOWS_QT_DIR and
# QM_WINDOWS_SQLITE_DIR for the install rules, and QM_WINDOWS_HTTPLIB_DIR for the board. The archives' folder, first found: QM_WINDOWS_KIT (a CMake or environment
# variable), the shared folder beside the project (../shared/windows, as CI has it; a work
# tree is one level deeper), the cache that scripts/build-windows-kit.sh fills.
set(QM_WINDOWS_QT_ARCHIVE qt6-mingw-6.4.2.tar.xz)
set(QM_WINDOWS_SQLITE_ARCHIVE sqlite-mingw-3.40.1.tar.xz)
set(QM_WINDOWS_HTTPLIB_ARCHIVE cpp-httplib-mingw-0.11.4.tar.xz)
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(qm_kit_cache $ENV{XDG_CACHE_HOME}/quillmark/windows-kit)
else()
  set(qm_kit_cache $ENV{HOME}/.cache/quillmark/windows-kit)
endif()
find_path(QM_WINDOWS_KIT ${QM_WINDOWS_QT_ARCHIVE}
  PATHS $ENV{QM_WINDOWS_KIT} ${PROJECT_SOURCE_DIR}/../shared/windows ${PROJECT_SOURCE_DIR}/../../shared/windows
        ${qm_kit_cache}
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QM_WINDOWS_KIT OR NOT EXISTS ${QM_WINDOWS_KIT}/${QM_WINDOWS_SQLITE_ARCHIVE}
   OR NOT EXISTS ${QM_WINDOWS_KIT}/${QM_WINDOWS_HTTPLIB_ARCHIVE})
  message(FATAL_ERROR "The Windows build needs ${QM_WINDOWS_QT_ARCHIVE}, ${QM_WINDOWS_SQLITE_ARCHIVE} and "
                      "${QM_WINDOWS_HTTPLIB_ARCHIVE}: "
                      "run scripts/build-windows-kit.sh (it builds them from Debian's sources into "
                      "${qm_kit_cache}), or set QM_WINDOWS_KIT to their folder")
endif()
message(STATUS "Windows kit: ${QM_WINDOWS_KIT}")

set(qm_kit_dir ${PROJECT_BINARY_DIR}/windows-kit)
# Unpacked again when an archive is newer than what was unpacked from it, or is another one
# (the kit found elsewhere); the stamp names the archive it came from.
foreach(archive ${QM_WINDOWS_QT_ARCHIVE} ${QM_WINDOWS_SQLITE_ARCHIVE} ${QM_WINDOWS_HTTPLIB_ARCHIVE})
  set(stamp ${qm_kit_dir}/${archive}.unpacked)
  set(unpacked_from "")
  if(EXISTS ${stamp})
    file(READ ${stamp} unpacked_from)
  endif()
  if(NOT unpacked_from STREQUAL ${QM_WINDOWS_KIT}/${archive} OR ${QM_WINDOWS_KIT}/${archive} IS_NEWER_THAN ${stamp})
    message(STATUS "Unpacking ${QM_WINDOWS_KIT}/${archive} into ${qm_kit_dir}")
    string(REGEX REPLACE "\\.tar\\.xz$" "" folder ${archive})
    file(REMOVE_RECURSE ${qm_kit_dir}/${folder})
    file(ARCHIVE_EXTRACT INPUT ${QM_WINDOWS_KIT}/${archive} DESTINATION ${qm_kit_dir})
    file(WRITE ${stamp} ${QM_WINDOWS_KIT}/${archive})
  endif()
endforeach()

set(QM_WINDOWS_QT_DIR ${qm_kit_dir}/qt6-mingw-6.4.2)
set(QM_WINDOWS_SQLITE_DIR ${qm_kit_dir}/sqlite-mingw-3.40.1)
set(QM_WINDOWS_HTTPLIB_DIR ${qm_kit_dir}/cpp-httplib-mingw-0.11.4)
list(APPEND CMAKE_PREFIX_PATH ${QM_WINDOWS_QT_DIR})
# moc, rcc and uic are the host's (Debian's qt6-base-dev-tools, the same version).
set(QT_HOST_PATH /usr CACHE PATH "The host's Qt, for the build tools")
find_path(QT_HOST_PATH_CMAKE_DIR Qt6/Qt6Config.cmake PATHS /usr/lib/x86_64-linux-gnu/cmake /usr/lib/cmake
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QT_HOST_PATH_CMAKE_DIR)
  message(FATAL_ERROR "The Windows build takes moc, rcc and uic from the host's Qt 6 (qt6-base-dev-tools)")
endif()
set(SQLite3_INCLUDE_DIR ${QM_WINDOWS_SQLITE_DIR}/include CACHE PATH "")
set(SQLite3_LIBRARY ${QM_WINDOWS_SQLITE_DIR}/lib/libsqlite3.dll.a CACHE FILEPATH "")
