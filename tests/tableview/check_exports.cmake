# Fails when the shared library exports anything but QtRokTableView, or when
# the helper classes leak out. Usage:
#   cmake -DNM=<nm> -DLIB=<library> -P check_exports.cmake
if(NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux" OR NOT NM)
    message(STATUS "symbol check skipped: needs nm on Linux")
    return()
endif()

execute_process(COMMAND ${NM} -DC --defined-only ${LIB}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${LIB}: ${errors}")
endif()

string(REPLACE "\n" ";" lines "${symbols}")
set(exported 0)
set(stray "")
foreach(line IN LISTS lines)
    if(line MATCHES "QRokColumnHeaderView|ReadOnlyDelegate")
        string(APPEND stray "  ${line}\n")
    elseif(line MATCHES "^[0-9a-fA-F]+ T (.*)$")
        set(name "${CMAKE_MATCH_1}")
        if(name MATCHES "^((non-)?virtual thunk to )?QtRokTableView::")
            math(EXPR exported "${exported} + 1")
        elseif(NOT name MATCHES "^_(init|fini)$")
            string(APPEND stray "  ${line}\n")
        endif()
    endif()
endforeach()

if(NOT stray STREQUAL "")
    message(FATAL_ERROR "unexpected exported symbols in ${LIB}:\n${stray}")
endif()
if(exported EQUAL 0)
    message(FATAL_ERROR "${LIB} exports no QtRokTableView functions")
endif()
message(STATUS "${exported} QtRokTableView functions exported, nothing else")
