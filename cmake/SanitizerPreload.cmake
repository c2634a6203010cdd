# tav_sanitizer_preload(VAR): in a sanitizer build, the environment entries
# an uninstrumented Python interpreter needs to load the instrumented module:
# the sanitizer's shared runtime preloaded, with the C++ runtime (the
# sanitizer finds the functions it wraps, __cxa_throw among them, when it
# starts, and the interpreter would load the C++ runtime only with the
# module; the library throws to stop an interrupted call), and no leak check
# (the interpreter never frees its own allocations).  Empty otherwise.
function(tav_sanitizer_preload var)
  set(entries "")
  if(TAV_SANITIZE OR TAV_FUZZ)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      set(runtime_name libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so)
    else()
      set(runtime_name libasan.so)
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime_name}
                    OUTPUT_VARIABLE runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so.6
                    OUTPUT_VARIABLE cxx_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(entries "LD_PRELOAD=${runtime} ${cxx_runtime}" "ASAN_OPTIONS=detect_leaks=0")
  endif()
  set(${var} "${entries}" PARENT_SCOPE)
endfunction()
