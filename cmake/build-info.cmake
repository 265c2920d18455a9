# Writes the record of a build that the environment of a run names the
# program by: its version, the commit it was built from and the compiler.
# Run at every build (cmake -P), as a commit changes nothing CMake would
# notice; the file is rewritten only when its text changes.
# In: SOURCE, OUTPUT, VERSION, COMPILER, BUILD_TYPE.
execute_process(COMMAND git -C "${SOURCE}" rev-parse --short=12 HEAD
                OUTPUT_VARIABLE commit RESULT_VARIABLE not_found
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(not_found)
  set(commit "none (not built from a git checkout)")
else()
  execute_process(COMMAND git -C "${SOURCE}" status --porcelain --untracked-files=no
                  OUTPUT_VARIABLE changes ERROR_QUIET)
  if(changes)
    string(APPEND commit " with local changes")
  endif()
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "version: ${VERSION}
commit: ${commit}
compiler: ${COMPILER}
build type: ${BUILD_TYPE}
")
