# What the Windows program needs beside quillmark.exe, and the NSIS installer CPack makes of
# it all (cross-built on Debian; makensis from Debian's nsis package):
#   cmake --preset windows-cross && cmake --build --preset windows-cross
#   cpack --preset windows-cross        -> build/windows-cross/Quillmark-<version>-win64.exe
# Everything goes into one folder: the program, Qt's DLLs and plugins, SQLite, the MinGW
# runtime and the demo traffic in samples\.

set(qm_qt ${QM_WINDOWS_QT_DIR})
install(FILES ${qm_qt}/bin/Qt6Core.dll ${qm_qt}/bin/Qt6Gui.dll ${qm_qt}/bin/Qt6Widgets.dll
              ${qm_qt}/bin/Qt6Network.dll ${qm_qt}/bin/Qt6PrintSupport.dll
        DESTINATION ${CMAKE_INSTALL_BINDIR})
# Qt looks for its plugins in these folders beside the program.
# The offscreen platform serves --no-window, a run without a display.
install(FILES ${qm_qt}/plugins/platforms/qwindows.dll ${qm_qt}/plugins/platforms/qoffscreen.dll
        DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms)
install(FILES ${qm_qt}/plugins/styles/qwindowsvistastyle.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/styles)
install(FILES ${qm_qt}/plugins/imageformats/qico.dll DESTINATION ${CMAKE_INSTALL_BINDIR}/imageformats)
install(FILES ${QM_WINDOWS_SQLITE_DIR}/bin/sqlite3.dll DESTINATION ${CMAKE_INSTALL_BINDIR})

# The C++ runtime of the posix-thread MinGW-w64 the program and Qt were built with.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE qm_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE qm_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(qm_winpthread libwinpthread-1.dll PATHS /usr/${QM_MINGW_PREFIX}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
foreach(dll qm_libstdcxx qm_libgcc qm_winpthread)
  if(NOT IS_ABSOLUTE "${${dll}}" OR NOT EXISTS "${${dll}}")
    message(FATAL_ERROR "The MinGW-w64 runtime DLL for ${dll} was not found (g++-mingw-w64-x86-64-posix)")
  endif()
endforeach()
# Debian ships them with their symbols (libstdc++ is 23 MB so); the program gets stripped copies.
set(qm_runtime_dir ${PROJECT_BINARY_DIR}/mingw-runtime)
file(MAKE_DIRECTORY ${qm_runtime_dir})
foreach(dll ${qm_libstdcxx} ${qm_libgcc} ${qm_winpthread})
  get_filename_component(name ${dll} NAME)
  if(NOT EXISTS ${qm_runtime_dir}/${name} OR ${dll} IS_NEWER_THAN ${qm_runtime_dir}/${name})
    execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${qm_runtime_dir}/${name} ${dll} COMMAND_ERROR_IS_FATAL ANY)
  endif()
  install(FILES ${qm_runtime_dir}/${name} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/samples/demo-traffic.txt DESTINATION ${QM_DATA_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/copyright DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME copyright.txt)
# The licence with Windows line ends: the installer's licence page and a copy beside the program.
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION ${CMAKE_INSTALL_BINDIR})

# The installer: 64-bit, into Program Files\Quillmark, a Start-menu entry and an uninstaller
# registered with Windows. The uninstaller removes what was installed; settings and logs the
# program wrote beside itself stay, as the operator's own files.
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Quillmark)
set(CPACK_PACKAGE_VENDOR "Quillmark developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${QM_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quillmark)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quillmark)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt)
set(CPACK_NSIS_MENU_LINKS quillmark.exe Quillmark)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# The installer's title and the Start-menu folder.
set(CPACK_NSIS_PACKAGE_NAME Quillmark)
set(CPACK_NSIS_DISPLAY_NAME "Quillmark")
set(CPACK_NSIS_INSTALLED_ICON_NAME quillmark.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/icons/quillmark.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/icons/quillmark.ico)
set(CPACK_NSIS_UNINSTALL_NAME Uninstall)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# zlib: a few MB more than lzma, made in a fifth of the time.
set(CPACK_NSIS_COMPRESSOR zlib)
# The welcome page says what the program does. CPack has a variable for the page's title
# only; its text is the Modern UI's own define, put in through CPACK_NSIS_DEFINES, which lands
# before the pages. CPack's script uses the first Modern UI, whose welcome page reads its text
# from an INI file: a line end there is written \r\n, as two characters each. CPack hands the
# values on as they are written only when told to (else CMake would read the quotes and the
# backslashes itself). The text has no ";" (a CMake list) and no quote. The serial TNC is named
# only where the build has it.
set(CPACK_VERBATIM_VARIABLES ON)
if(QM_HAVE_SERIAL_HOST_LINK)
  set(qm_tnc_words "Direwolf or another KISS TNC over TCP or a serial port")
else()
  set(qm_tnc_words "Direwolf or another KISS TNC over TCP")
endif()
set(qm_nl "\\r\\n")
string(CONCAT qm_welcome
  "Quillmark puts the APRS text messages you care about on paper.${qm_nl}${qm_nl}"
  "It hears ${qm_tnc_words}, APRS-IS servers and the station program, several at once. "
  "It keeps the messages you choose (to and from your call, the calls you list, bulletins, "
  "announcements, NWS watches, warnings and advisories for your states and areas) "
  "and prints them a page at a time, an alert's full text on a page of its own.${qm_nl}${qm_nl}"
  "The kinds you pick sound an alarm until someone acknowledges it. "
  "A board in the browser shows the list, the history and the alarms to other positions, "
  "and you can send messages and answer them.${qm_nl}${qm_nl}"
  "Click Next to continue.")
set(CPACK_NSIS_WELCOME_TITLE "Quillmark: APRS messages on paper")
# A 64-bit installer: it runs where the program runs, and sees the 64-bit registry and folders.
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n  !define MUI_WELCOMEPAGE_TEXT \"${qm_welcome}\"")
include(CPack)
