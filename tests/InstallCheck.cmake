# Installs the build in BUILD_DIR under PREFIX (BINDIR, MANDIR and DATADIR relative to it) and
# checks that the binary, the man page and the bash completion are where a user and bash look for
# them. Run with cmake -P.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(binary ${PREFIX}/${BINDIR}/korrin)
set(manPage ${PREFIX}/${MANDIR}/man1/korrin.1)
if(NOT EXISTS ${binary} OR IS_DIRECTORY ${binary})
  message(FATAL_ERROR "no binary at ${binary}")
endif()
execute_process(COMMAND ${binary} -o x OUTPUT_VARIABLE output RESULT_VARIABLE status)
if(NOT status EQUAL 1 OR NOT output STREQUAL "Error: bad URL: -o\n")
  message(FATAL_ERROR "the installed binary does not run: ${status} ${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${MAN_PAGE} ${manPage}
                RESULT_VARIABLE different)
if(NOT different EQUAL 0)
  message(FATAL_ERROR "no man page at ${manPage}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${COMPLETION}
                        ${PREFIX}/${DATADIR}/bash-completion/completions/korrin
                RESULT_VARIABLE different)
if(NOT different EQUAL 0)
  message(FATAL_ERROR "no bash completion at ${PREFIX}/${DATADIR}/bash-completion/completions/korrin")
endif()
file(REMOVE_RECURSE ${PREFIX})
