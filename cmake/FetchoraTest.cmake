# fetchora_add_test(NAME [WIDGETS] [SOURCES...] LIBS...): one GoogleTest program, one ctest
# entry. SOURCES defaults to NAME.cpp. WIDGETS gives it a main that creates a QApplication
# first; a test without it links no Widgets unless a library it tests does.
find_package(GTest REQUIRED)
function(fetchora_add_test name)
  cmake_parse_arguments(ARG "WIDGETS" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_SOURCES)
    set(ARG_SOURCES ${name}.cpp)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_WIDGETS)
    set(test_main fetchora_test_qt_main)
  else()
    set(test_main GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE fetchora_options ${ARG_LIBS} ${test_main} GTest::gtest GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    TIMEOUT 300)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
