# Fails the build when the stub reaches into the place of the patch size field: its patch would
# overwrite its own code. The stub is removed so that the next build does not take it as done.
file(SIZE "${STUB}" stub_size)
if(stub_size GREATER LIMIT)
  file(REMOVE "${STUB}")
  message(FATAL_ERROR
    "The stub ${STUB} is ${stub_size} bytes, larger than its patch size offset ${LIMIT}: "
    "raise TARNFIX_PATCH_SIZE_OFFSET (a cache variable) or make the stub smaller.")
endif()
message(STATUS "stub ${stub_size} bytes, patch size field at ${LIMIT}")
