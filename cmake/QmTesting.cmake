include(GoogleTest)

# qm_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest program; every case becomes a CTest test. GUI tests run on
# Qt's offscreen platform, so no display is needed.
function(qm_gtest name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${A_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QM_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
