# The Windows cross-build's libraries: Qt 6 and SQLite built for MinGW-w64, kept as archives
# in the shared folder beside the project (never in it) and unpacked into the build folder.
# Sets what find_package(Qt6) and find_package(SQLite3) need, and QM_WINDOWS_QT_DIR and
# QM_WINDOWS_SQLITE_DIR for the install rules.
set(QM_WINDOWS_QT_ARCHIVE qt6-mingw-6.4.2.tar.xz)
set(QM_WINDOWS_SQLITE_ARCHIVE sqlite-mingw-3.40.1.tar.xz)
# The shared folder sits beside the main checkout; a work tree is one level deeper.
find_path(QM_WINDOWS_KIT ${QM_WINDOWS_QT_ARCHIVE}
  PATHS ${PROJECT_SOURCE_DIR}/../shared/windows ${PROJECT_SOURCE_DIR}/../../shared/windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QM_WINDOWS_KIT OR NOT EXISTS ${QM_WINDOWS_KIT}/${QM_WINDOWS_SQLITE_ARCHIVE})
  message(FATAL_ERROR "The Windows build needs ${QM_WINDOWS_QT_ARCHIVE} and ${QM_WINDOWS_SQLITE_ARCHIVE} "
                      "in ../shared/windows beside the project (or QM_WINDOWS_KIT set to their folder)")
endif()

set(qm_kit_dir ${PROJECT_BINARY_DIR}/windows-kit)
# Unpacked again only when an archive is newer than what was unpacked from it.
foreach(archive ${QM_WINDOWS_QT_ARCHIVE} ${QM_WINDOWS_SQLITE_ARCHIVE})
  set(stamp ${qm_kit_dir}/${archive}.unpacked)
  if(NOT EXISTS ${stamp} OR ${QM_WINDOWS_KIT}/${archive} IS_NEWER_THAN ${stamp})
    message(STATUS "Unpacking ${archive} into ${qm_kit_dir}")
    file(ARCHIVE_EXTRACT INPUT ${QM_WINDOWS_KIT}/${archive} DESTINATION ${qm_kit_dir})
    file(TOUCH ${stamp})
  endif()
endforeach()

set(QM_WINDOWS_QT_DIR ${qm_kit_dir}/qt6-mingw-6.4.2)
set(QM_WINDOWS_SQLITE_DIR ${qm_kit_dir}/sqlite-mingw-3.40.1)
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
