# What an installed Quillmark needs besides the program, its desktop entry and its icons
# (app/CMakeLists.txt installs those), and the Debian package CPack makes of it all:
#   cmake --install build/default --prefix /some/where
#   cd build/package && cpack -G DEB
# The package installs under /usr whatever the build's prefix; the program finds its data
# from its own folder (host/CMakeLists.txt), so either way works.

set(QM_APP_ID org.quillmark.Quillmark)
set(QM_MAINTAINER "Quillmark developers <developers@quillmark.example>")
set(QM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillmark)

# The manual page and the package's changelog carry the version and the release date; both
# go in gzip'ed (-n: no name or time stamp, so a rebuild gives the same bytes).
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -R -u -d ${QM_RELEASE_DATE}
                OUTPUT_VARIABLE QM_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(qm_data ${PROJECT_BINARY_DIR}/data)
configure_file(data/quillmark.1.in ${qm_data}/quillmark.1 @ONLY)
configure_file(data/changelog.in ${qm_data}/changelog @ONLY)
configure_file(data/${QM_APP_ID}.metainfo.xml.in ${qm_data}/${QM_APP_ID}.metainfo.xml @ONLY)
foreach(file quillmark.1 changelog)
  add_custom_command(OUTPUT ${qm_data}/${file}.gz
                     COMMAND gzip -9nkf ${qm_data}/${file}
                     DEPENDS ${qm_data}/${file}
                     COMMENT "Compressing ${file}")
  list(APPEND qm_gzipped ${qm_data}/${file}.gz)
endforeach()
add_custom_target(qm_packaging_data ALL DEPENDS ${qm_gzipped})

install(FILES ${PROJECT_SOURCE_DIR}/samples/demo-traffic.txt DESTINATION ${QM_DATA_DIR})
install(FILES ${qm_data}/quillmark.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${qm_data}/${QM_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/copyright ${qm_data}/changelog.gz DESTINATION ${QM_DOC_DIR})
# The unattended desk as a user service (systemctl --user enable --now quillmark).
install(FILES data/quillmark.service DESTINATION lib/systemd/user)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VENDOR "Quillmark developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description as the package shows it: lines of at most 79 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Quillmark watches the APRS traffic of a station and keeps the text messages"
       "the operator wants on paper: messages to and from the own station and listed"
       "calls, all bulletins and announcements, and National Weather Service watches,"
       "warnings and advisories for chosen states, with their full text by Finger."
       "Packets come from an APRS-IS server, a KISS TNC over TCP or on a serial port,"
       "or a replayed capture file, and several sources can be heard at once. It can"
       "acknowledge numbered messages to the own call over the TNC or a verified"
       "APRS-IS login. A message leaves the window's list only when the print spooler"
       "confirms its page; every message is kept in a searchable history for reprints."
       "A board served to the browser shows the desk's state, the list and the history"
       "behind a key, also when it runs without a window (quillmark --no-window).")
set(CPACK_PACKAGE_VERSION ${QM_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Folders 0755 and files as installed, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps, but for libcups: the program loads it when it first
# asks the spooler, so dpkg-shlibdeps does not see it. The Liberation fonts stand in for the
# printed fonts, CUPS does the printing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcups2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups, direwolf")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
