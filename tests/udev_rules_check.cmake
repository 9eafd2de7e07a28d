# Installs the project into a scratch prefix and checks that the udev rules
# land where udev looks under that prefix, unchanged, with one rule per box;
# with -DSYNTAX=ON udev itself checks them instead.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DPREFIX=... [-DSYNTAX=ON] -P udev_rules_check.cmake
if(SYNTAX)
    find_program(UDEVADM udevadm PATHS /usr/bin /bin /sbin /usr/sbin)
    if(UDEVADM)
        execute_process(COMMAND "${UDEVADM}" verify --help RESULT_VARIABLE has_verify
                        OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(NOT UDEVADM OR NOT has_verify EQUAL 0)
        message("SKIPPED: no udevadm with a verify command on this machine")
        return()
    endif()
    execute_process(COMMAND "${UDEVADM}" verify "${SOURCE_DIR}/data/udev/70-olva.rules"
                    RESULT_VARIABLE verified)
    if(NOT verified EQUAL 0)
        message(FATAL_ERROR "udevadm verify rejects the rules")
    endif()
    return()
endif()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "install failed: ${result}")
endif()
set(installed "${PREFIX}/lib/udev/rules.d/70-olva.rules")
if(NOT EXISTS "${installed}")
    message(FATAL_ERROR "${installed} was not installed")
endif()
file(READ "${installed}" installed_text)
file(READ "${SOURCE_DIR}/data/udev/70-olva.rules" source_text)
if(NOT installed_text STREQUAL source_text)
    message(FATAL_ERROR "the installed rules differ from data/udev/70-olva.rules")
endif()
foreach(ids "04d9;2832" "0c76;362f")
    list(GET ids 0 vendor)
    list(GET ids 1 product)
    string(REGEX MATCH "ATTR{idVendor}==\"${vendor}\", ATTR{idProduct}==\"${product}\"[^\n]*TAG\\+=\"uaccess\""
           rule "${installed_text}")
    if(NOT rule)
        message(FATAL_ERROR "no uaccess rule for ${vendor}:${product}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
