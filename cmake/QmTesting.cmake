include(GoogleTest)

# qm_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <label>])
# One GoogleTest program; every case becomes a CTest test. GUI tests run on Qt's
# offscreen platform, so no display is needed.
function(qm_gtest name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} qm_test_support GTest::gtest_main GTest::gmock)
  # Lists do not survive gtest_discover_tests PROPERTIES, so the environment goes
  # through the launcher, which also serves the discovery run.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND};-E;env;QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(A_LABELS)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${A_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# qm_peer_test(<test name> PROGRAM <target> SOURCES <files...> LIBS <targets...>
#              TIMEOUT <seconds> (SCRIPT <scripts/ file> [ARGS <args...>] | CUPS))
# A test against a real outside program. SCRIPT starts the peer and runs the program
# with the peer's address; CUPS sets up the Quillmark-PDF queue first and holds the
# lock "cups", so no two tests use the spooler at once. Sanitizer builds leave peer
# tests out: the peers are outside programs and one run per test pass is enough.
function(qm_peer_test name)
  cmake_parse_arguments(A "CUPS" "PROGRAM;SCRIPT;TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  if(QM_SANITIZE)
    return()
  endif()
  # A second test may run a program an earlier one made (its SOURCES left out).
  if(NOT TARGET ${A_PROGRAM})
    add_executable(${A_PROGRAM} ${A_SOURCES})
    target_link_libraries(${A_PROGRAM} PRIVATE ${A_LIBS} qm_test_support)
  endif()
  if(A_CUPS)
    add_test(NAME ${name}
             COMMAND sh -c "\"$1\" start >/dev/null && \"$2\"" ${A_PROGRAM}
                     ${PROJECT_SOURCE_DIR}/scripts/cups-pdf-queue.sh $<TARGET_FILE:${A_PROGRAM}>)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK cups)
  else()
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/scripts/${A_SCRIPT} $<TARGET_FILE:${A_PROGRAM}> ${A_ARGS})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS peer TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
