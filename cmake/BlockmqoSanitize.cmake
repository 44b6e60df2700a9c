# Sanitized and fuzz-instrumented builds apply to every target of the tree, so
# the libraries under test are checked as well as the programs that drive them.
if(BLOCKMQO_SANITIZE)
  set(_blockmqo_sanitize -fsanitize=address,undefined -fno-sanitize-recover=all)
  add_compile_options(${_blockmqo_sanitize} -fno-omit-frame-pointer)
  add_link_options(${_blockmqo_sanitize})
endif()

# libFuzzer needs coverage counters in the code it explores; only the fuzz
# targets themselves link its main.
if(BLOCKMQO_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link)
  set(BLOCKMQO_LIBFUZZER ON)
else()
  set(BLOCKMQO_LIBFUZZER OFF)
endif()
