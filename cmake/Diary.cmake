# One static library per source folder, built from every .cpp/.c in it (not in sub-folders).
# The include root is the project root, so headers are included as "platform/foundation/value.h".
function(diary_library target dir)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${dir}/*.cpp ${PROJECT_SOURCE_DIR}/${dir}/*.c)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# Test code (not the product it links) is built at -O1 with line tables only in the optimised
# build types: it halves the compile time of the tests, which dominate a cold build, and a failing
# test still shows file and line.
function(diary_test_code_flags target)
  target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo,Release>:-O1 -g1>)
  # The test framework and the standard headers every test includes, parsed once a test program
  # instead of once a file: they are a quarter of a test file's compile time.
  target_precompile_headers(${target} PRIVATE <gmock/gmock.h> <gtest/gtest.h> <filesystem> <functional>
                            <map> <memory> <optional> <string> <vector>)
  # GCC 12's flow analysis at -O1 reports impossible sizes inside the standard library's own code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-stringop-overflow -Wno-maybe-uninitialized -Wno-array-bounds)
  endif()
endfunction()

# Test sources that stand for product code (the functions a crash test crashes in, whose stacks the
# reporter must walk) are built with the product's own optimisation instead of the test code's, and
# without the tests' precompiled header (made with the test code's flags). Sources are named relative
# to tests/.
function(diary_product_code_flags)
  foreach(config RelWithDebInfo Release)
    string(TOUPPER ${config} upper)
    separate_arguments(flags UNIX_COMMAND "${CMAKE_CXX_FLAGS_${upper}}")
    foreach(flag IN LISTS flags)
      list(APPEND options "$<$<CONFIG:${config}>:${flag}>")
    endforeach()
  endforeach()
  list(TRANSFORM ARGN PREPEND ${PROJECT_SOURCE_DIR}/tests/)
  set_source_files_properties(${ARGN} DIRECTORY ${PROJECT_SOURCE_DIR}/tests
                              PROPERTIES COMPILE_OPTIONS "${options}" SKIP_PRECOMPILE_HEADERS ON)
endfunction()

# One test executable per folder of tests/, from every .cpp in it and its sub-folders.
# Paths to the sources, resources and shared data are fixed at build time (tests/support), so a test
# binary passes from any working folder.
function(diary_tests target dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} test_support GTest::gmock GTest::gtest)
  diary_test_code_flags(${target})
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "TZ=UTC;LANG=C.UTF-8"
    DISCOVERY_TIMEOUT 60)
endfunction()
