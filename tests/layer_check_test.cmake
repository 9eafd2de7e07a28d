# The layer check over a small tree of its own: an include of a layer above
# fails it and is named, one of the layer itself or below passes, and so
# does a system or sibling header.
#   cmake -DCHECKER=check_layers.cmake -DSCRATCH=dir -P layer_check_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${SCRATCH}")
file(WRITE "${SCRATCH}/rules.cmake"
     "set(OLVA_LAYER_RULES \"model=model;gsm=gsm,model;usb_hid=usb_hid,gsm,model;.=.,usb_hid,gsm,model\")\n")
file(WRITE "${SCRATCH}/src/model/ids.h" "#pragma once\n")
file(WRITE "${SCRATCH}/src/usb_hid/box.h" "#pragma once\n#include \"gsm/pump.h\"\n#include \"model/ids.h\"\n")
file(WRITE "${SCRATCH}/src/face.h" "#pragma once\n#include \"usb_hid/box.h\"\n")

function(run_check expect_ok)
    execute_process(COMMAND "${CMAKE_COMMAND}" -DOLVA_LAYER_SOURCE_DIR=${SCRATCH}/src
                            -DOLVA_LAYER_RULES_FILE=${SCRATCH}/rules.cmake -P "${CHECKER}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(expect_ok AND NOT result EQUAL 0)
        message(FATAL_ERROR "the check refused a tree with right includes:\n${out}")
    elseif(NOT expect_ok AND result EQUAL 0)
        message(FATAL_ERROR "the check passed a tree with a wrong include")
    endif()
    set(check_output "${out}" PARENT_SCOPE)
endfunction()

file(WRITE "${SCRATCH}/src/gsm/pump.h" "#pragma once\n#include <vector>\n#include \"model/ids.h\"\n#include \"sibling.h\"\n")
run_check(TRUE)

foreach(wrong "usb_hid/box.h" "face.h")
    file(WRITE "${SCRATCH}/src/gsm/pump.h" "#pragma once\n#include \"${wrong}\"\n")
    run_check(FALSE)
    if(NOT check_output MATCHES "gsm/pump.h includes \"${wrong}\": folder gsm may use only gsm, model")
        message(FATAL_ERROR "the check did not name the wrong include ${wrong}:\n${check_output}")
    endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
