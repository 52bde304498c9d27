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
  qm_label_slow_tests_once()
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
  qm_label_slow_tests_once()
  set_tests_properties(${name} PROPERTIES LABELS peer TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# The tests named in tests/SlowTests.cmake (two seconds or more on a quiet 2-core machine) get
# the label "slow" beside their own, so `ctest -LE slow` is a quick pass. Every folder with
# tests does it once, after its last test is added: a test CMake knows (add_test) is labelled
# now; GoogleTest cases are known only once their program has listed them, so a small file run
# after those lists labels the ones this folder has. A name no folder has is passed over.
include(${PROJECT_SOURCE_DIR}/tests/SlowTests.cmake)
function(qm_label_slow_tests)
  set(cases "")
  foreach(test IN LISTS QM_SLOW_TESTS)
    if(TEST ${test})
      set_property(TEST ${test} APPEND PROPERTY LABELS slow)
    endif()
  endforeach()
  set(file "${CMAKE_CURRENT_BINARY_DIR}/slow_tests.cmake")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/QmSlowLabels.cmake.in "${file}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
endfunction()
function(qm_label_slow_tests_once)
  cmake_language(DEFER GET_CALL qm_slow_labels call)
  if(NOT call)
    cmake_language(DEFER ID qm_slow_labels CALL qm_label_slow_tests)
  endif()
endfunction()
