# Installs the build into a scratch prefix and checks that the tool and its
# manual page land where a Debian system looks for them.
# Run with -DBUILD_DIR=... -DPREFIX=...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE install_result OUTPUT_QUIET)
if(NOT install_result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${install_result}")
endif()
execute_process(COMMAND "${PREFIX}/bin/tandrel" RESULT_VARIABLE usage_result
                OUTPUT_VARIABLE usage_text)
if(NOT usage_result EQUAL 2 OR NOT usage_text MATCHES "Usage: tandrel file.264")
  message(FATAL_ERROR "installed tandrel did not print its usage: ${usage_result} ${usage_text}")
endif()
file(READ "${PREFIX}/share/man/man1/tandrel.1" manual)
foreach(needed ".TH TANDREL 1" "SYNOPSIS" "cues" "EXIT STATUS" "EXAMPLES")
  string(FIND "${manual}" "${needed}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the installed manual page lacks ${needed}")
  endif()
endforeach()
