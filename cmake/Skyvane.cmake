# Build helpers shared by every folder of the suite.

# The string-table compiler: resources/<deliverable>/strings.tsv -> C++ source.
if(NOT TARGET skyvane_strgen)
  add_executable(skyvane_strgen ${CMAKE_CURRENT_LIST_DIR}/strgen.cpp)
  set_target_properties(skyvane_strgen PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()

# skyvane_string_table(<name> <tsv>)
# Creates the static library <name>_strings. Its header "<name>_strings.h"
# declares strings::<name>(), the deliverable's platform::StringTable.
function(skyvane_string_table name tsv)
  get_filename_component(tsv_abs ${tsv} ABSOLUTE)
  set(out_dir ${CMAKE_BINARY_DIR}/generated/strings)
  set(out_cpp ${out_dir}/${name}_strings.cpp)
  set(out_h ${out_dir}/${name}_strings.h)
  add_custom_command(
    OUTPUT ${out_cpp} ${out_h}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND skyvane_strgen ${name} ${tsv_abs} ${out_cpp} ${out_h}
    DEPENDS skyvane_strgen ${tsv_abs}
    COMMENT "String table ${name}"
    VERBATIM)
  add_library(${name}_strings STATIC ${out_cpp} ${out_h})
  target_include_directories(${name}_strings PUBLIC ${out_dir})
  target_link_libraries(${name}_strings PUBLIC skyvane_platform)
endfunction()

# skyvane_test(<name> SOURCES ... LIBS ...)
# One GoogleTest program, registered with CTest under its folder's label.
function(skyvane_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "SKYVANE_BIN_DIR=${CMAKE_BINARY_DIR}/bin;SKYVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR};QT_QPA_PLATFORM=offscreen")
endfunction()

# The hardening flags of the platform's packages (dpkg-buildflags with every
# hardening feature: fortified functions, stack protector, read-only
# relocations, immediate binding). The optimisation and debug flags stay the
# build type's. Sanitizer builds keep their own flags.
function(skyvane_hardening)
  find_program(SKYVANE_DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT SKYVANE_DPKG_BUILDFLAGS)
    return()
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${SKYVANE_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(failed)
      return()
    endif()
    separate_arguments(value UNIX_COMMAND "${value}")
    list(FILTER value EXCLUDE REGEX "^-g|^-O|prefix-map=")
    set(${kind} ${value})
  endforeach()
  add_compile_options(${CPPFLAGS} ${CXXFLAGS})
  add_link_options(${LDFLAGS})
  message(STATUS "Hardening: ${CPPFLAGS} ${CXXFLAGS} ${LDFLAGS}")
endfunction()
