# Fails the build when the Linux stub needs a shared library other than the C library: a player
# would need the compiler's run-time libraries (libstdc++, libgcc_s) installed to run it.
execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}" OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump could not read ${PROGRAM}")
endif()
string(REGEX MATCHALL "NEEDED +[^\r\n]+" needs "${dump}")
foreach(need IN LISTS needs)
  string(REGEX REPLACE "NEEDED +" "" library "${need}")
  if(NOT library MATCHES "^(libc\\.so\\.[0-9]+|ld-linux[-a-z0-9_.]*\\.so\\.[0-9]+)$")
    file(REMOVE "${PROGRAM}")
    message(FATAL_ERROR "${PROGRAM} needs ${library}; it must need nothing but the C library")
  endif()
endforeach()
