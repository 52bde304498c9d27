include(GoogleTest)

# qm_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <label>])
# One GoogleTest program; every case becomes a CTest test. GUI tests run on Qt's
# offscreen platform, so no display is needed.
function(qm_gtest name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest_main GTest::gmock)
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
