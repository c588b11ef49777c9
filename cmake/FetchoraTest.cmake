# fetchora_add_test(NAME SOURCES... LIBS... [WIDGETS]): one GoogleTest program, one ctest
# entry. WIDGETS gives it a main that creates a QApplication first.
find_package(GTest REQUIRED)
function(fetchora_add_test name)
  cmake_parse_arguments(ARG "WIDGETS" "" "SOURCES;LIBS;LABELS" ${ARGN})
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

# Every *_test.cpp of the calling folder becomes its own test program and ctest entry.
# Tests whose file name ends in _form_test.cpp, or that the WIDGETS list names, get the
# QApplication main.
function(fetchora_add_folder_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS;WIDGETS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(source ${test_sources})
    get_filename_component(name ${source} NAME_WE)
    set(widgets "")
    if(name MATCHES "_form_test$" OR name IN_LIST ARG_WIDGETS)
      set(widgets WIDGETS)
    endif()
    fetchora_add_test(${name} SOURCES ${source} LIBS ${ARG_LIBS} LABELS ${ARG_LABELS} ${widgets})
  endforeach()
endfunction()
