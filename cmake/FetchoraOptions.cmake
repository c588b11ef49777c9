# The INTERFACE target every Fetchora target links: language level, warnings and
# Qt's hygiene defines.
add_library(fetchora_options INTERFACE)
target_compile_features(fetchora_options INTERFACE cxx_std_20)
target_compile_options(fetchora_options INTERFACE
  -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<BOOL:${FETCHORA_WERROR}>:-Werror>
  # GCC 12 reports std::string assignments of literals in optimised builds as
  # overlapping copies (GCC bug 105651).
  $<$<AND:$<CXX_COMPILER_ID:GNU>,$<VERSION_LESS:$<CXX_COMPILER_VERSION>,13>>:-Wno-restrict>)
target_compile_definitions(fetchora_options INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)
target_include_directories(fetchora_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

# fetchora_add_library(NAME [MOC] SOURCES... [PUBLIC libs...] [PRIVATE libs...]): one static
# library per folder, linked upward only. MOC runs Qt's meta-object compiler on it.
function(fetchora_add_library name)
  cmake_parse_arguments(ARG "MOC" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  if(NOT ARG_SOURCES)
    # A folder whose code has not been written yet still gives a target to link.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE fetchora_options ${ARG_PUBLIC})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC fetchora_options ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  if(ARG_MOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()

