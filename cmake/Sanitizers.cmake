# Sanitizer builds, chosen with VANTREL_SANITIZER:
#   address,undefined  AddressSanitizer (with its leak checker) and
#                      UndefinedBehaviorSanitizer. Every report ends the
#                      program, so a test with any report fails.
#   thread             ThreadSanitizer.
# Everything in the build is instrumented: the library, the tests and the tools.
#
# VANTREL_HOST_PRELOAD is what a host program not built here (an interpreter,
# an example built against the installed package) must preload to load the
# instrumented library: the sanitizer runtime, which has to come first in the
# process's initial library list, and the C++ runtime, whose exception
# functions the sanitizer wraps when it starts (a C host loads it only later,
# with the library). Empty without a sanitizer.
set(VANTREL_HOST_PRELOAD "")
if(VANTREL_SANITIZER)
  add_compile_options(-fsanitize=${VANTREL_SANITIZER} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${VANTREL_SANITIZER})
  if(VANTREL_SANITIZER MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=all)
    add_link_options(-fno-sanitize-recover=all)
  endif()

  if(VANTREL_SANITIZER MATCHES "address")
    set(runtime libasan.so)
  elseif(VANTREL_SANITIZER MATCHES "thread")
    set(runtime libtsan.so)
  endif()
  if(runtime)
    foreach(library ${runtime} libstdc++.so)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
      get_filename_component(path "${path}" REALPATH)
      list(APPEND VANTREL_HOST_PRELOAD ${path})
    endforeach()
    list(JOIN VANTREL_HOST_PRELOAD ":" VANTREL_HOST_PRELOAD)
  endif()
endif()

# VANTREL_FUZZ builds the libFuzzer targets in tests/fuzz (clang only). The
# whole build then carries libFuzzer's coverage instrumentation, so that the
# fuzzers are guided by the library code they exercise. Combine it with
# VANTREL_SANITIZER=address,undefined.
option(VANTREL_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(VANTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VANTREL_FUZZ needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
