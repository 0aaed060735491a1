# Installs the build into a scratch prefix, checks that the installed programs find the installed library
# with nothing set, then configures, builds and runs the consumer project against the installed package.
# Arguments: BUILD_DIR (this build), SOURCE_DIR (the consumer), WORK_DIR (scratch), WITH_LUXORA (whether
# the build has the desktop program).
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix --component Unspecified
    RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "install failed")
endif()
foreach(expected include/optivane/optivane.h)
    if(NOT EXISTS ${WORK_DIR}/prefix/${expected})
        message(FATAL_ERROR "${expected} was not installed")
    endif()
endforeach()
file(GLOB_RECURSE sonames ${WORK_DIR}/prefix/*/liboptivane.so.1)
if(NOT sonames)
    message(FATAL_ERROR "no versioned liboptivane.so.1 installed")
endif()
get_filename_component(libdir "${sonames}" DIRECTORY)

# The programs run from the installed tree alone: no LD_LIBRARY_PATH, no build tree.
set(bare ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH)
execute_process(COMMAND ${bare} ${WORK_DIR}/prefix/bin/optivane-sim --help
    OUTPUT_VARIABLE help ERROR_VARIABLE error RESULT_VARIABLE rc)
if(rc OR NOT help MATCHES "--port")
    message(FATAL_ERROR "the installed optivane-sim --help failed (${rc}): ${help}${error}")
endif()
# The port sharer needs the installed library, so its run path is checked by running it.
execute_process(COMMAND ${bare} ${WORK_DIR}/prefix/bin/optivane-share --help
    OUTPUT_VARIABLE help ERROR_VARIABLE error RESULT_VARIABLE rc)
if(rc OR NOT help MATCHES "--as COMn")
    message(FATAL_ERROR "the installed optivane-share --help failed (${rc}): ${help}${error}")
endif()
if(WITH_LUXORA)
    execute_process(COMMAND ${bare} ldd ${WORK_DIR}/prefix/bin/luxora
        OUTPUT_VARIABLE libraries ERROR_VARIABLE error RESULT_VARIABLE rc)
    if(rc OR libraries MATCHES "not found")
        message(FATAL_ERROR "the installed luxora does not find its libraries (${rc}):\n${libraries}${error}")
    endif()
    # The run path is relative to the program's folder, so the library is found as prefix/bin/../lib/...
    string(REGEX MATCH "liboptivane\\.so\\.1 => ([^ \t\n]+)" found "${libraries}")
    get_filename_component(loaded "${CMAKE_MATCH_1}" REALPATH)
    get_filename_component(installed "${sonames}" REALPATH)
    if(NOT found OR NOT loaded STREQUAL installed)
        message(FATAL_ERROR "the installed luxora does not load the installed library:\n${libraries}")
    endif()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix
    RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "the consumer did not configure against the installed package")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "the consumer did not build")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${WORK_DIR}/consumer/consumer RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "the consumer failed: ${rc}")
endif()
