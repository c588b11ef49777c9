# fetchora_add_test(NAME SOURCES... LIBS...): one GoogleTest program, one ctest entry.
find_package(GTest REQUIRED)
function(fetchora_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE fetchora_options ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    TIMEOUT 300)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# Every *_test.cpp of the calling folder becomes its own test program and ctest entry.
function(fetchora_add_folder_tests)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(source ${test_sources})
    get_filename_component(name ${source} NAME_WE)
    fetchora_add_test(${name} SOURCES ${source} LIBS ${ARG_LIBS} LABELS ${ARG_LABELS})
  endforeach()
endfunction()
