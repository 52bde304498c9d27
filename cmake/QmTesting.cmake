include(GoogleTest)

# qm_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <label>])
# One GoogleTest program; every case becomes a CTest test. GUI tests run on Qt's
# offscreen platform, so no display is needed. A case that takes two seconds or more on a quiet
# 2-core machine says so on its own line, `TEST(Suite, Name) {  // slow`, and is labelled
# "slow" beside its program's labels, so `ctest -LE slow` is a quick pass.
function(qm_gtest name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} qm_test_support GTest::gtest_main GTest::gmock)
  # Lists do not survive gtest_discover_tests PROPERTIES, so the environment goes
  # through the launcher, which also serves the discovery run.
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND};-E;env;QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  foreach(source IN LISTS A_SOURCES)
    get_filename_component(source "${source}" ABSOLUTE)
    set_property(DIRECTORY APPEND PROPERTY QM_GTEST_SOURCES "${source}")
  endforeach()
  qm_label_slow_tests_once()
  if(A_LABELS)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${A_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# qm_peer_test(<test name> PROGRAM <target> SOURCES <files...> LIBS <targets...>
#              TIMEOUT <seconds> (SCRIPT <scripts/ file> [ARGS <args...>] | CUPS) [SLOW])
# A test against a real outside program. SCRIPT starts the peer and runs the program
# with the peer's address; CUPS sets up the Quillmark-PDF queue first and holds the
# lock "cups", so no two tests use the spooler at once. SLOW labels it "slow" too. Sanitizer builds leave peer
# tests out: the peers are outside programs and one run per test pass is enough.
function(qm_peer_test name)
  cmake_parse_arguments(A "CUPS;SLOW" "PROGRAM;SCRIPT;TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
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
  set(labels peer)
  if(A_SLOW)
    list(APPEND labels slow)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${A_TIMEOUT}
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# GoogleTest cases are known only once their program has listed them, so the "// slow" markers
# are read by a small file CTest runs after those lists: every folder with such programs makes
# it once, after its last test is added, naming their sources.
function(qm_label_slow_tests)
  get_property(sources DIRECTORY PROPERTY QM_GTEST_SOURCES)
  list(JOIN sources "]==] [==[" QM_GTEST_SOURCES)
  set(QM_GTEST_SOURCES "[==[${QM_GTEST_SOURCES}]==]")
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
