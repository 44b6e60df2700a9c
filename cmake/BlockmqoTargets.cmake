# The project's warning flags, applied to every target we build.
function(blockmqo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wconversion -Wshadow)
  if(BLOCKMQO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A small core library: one folder, one header, warnings on.
function(blockmqo_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  blockmqo_warnings(${name})
endfunction()

# blockmqo_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1])
# One GoogleTest executable registered with CTest, built with the project's flags.
function(blockmqo_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  blockmqo_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(BLOCKMQO_RUN_TESTS)
    # Listing the tests starts the program; a start of 32-bit Wine under
    # qemu can take longer than the default 5 s.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
