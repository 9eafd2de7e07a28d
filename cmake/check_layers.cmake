# Fails when a file of a layer folder includes a header of a layer it may
# not use. Run as a script:
#   cmake -DOLVA_LAYER_SOURCE_DIR=src -DOLVA_LAYER_RULES_FILE=rules.cmake -P check_layers.cmake
# The rules file sets OLVA_LAYER_RULES, a list of "folder=allowed,folders";
# folder "." is the top of the source folder, whose own files it holds.
cmake_minimum_required(VERSION 3.25)
include(${OLVA_LAYER_RULES_FILE})

set(folders "")
foreach(rule IN LISTS OLVA_LAYER_RULES)
    string(REGEX REPLACE "=.*" "" folder "${rule}")
    list(APPEND folders ${folder})
endforeach()

# The folder an include names: its first path part when that is a layer
# folder, "." for a file at the top; empty for a system or outside header.
function(included_folder path out)
    set(${out} "" PARENT_SCOPE)
    if(path MATCHES "^([^/]+)/")
        if(CMAKE_MATCH_1 IN_LIST folders)
            set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
        endif()
    elseif(EXISTS ${OLVA_LAYER_SOURCE_DIR}/${path} AND "." IN_LIST folders)
        set(${out} "." PARENT_SCOPE)
    endif()
endfunction()

set(wrong 0)
foreach(rule IN LISTS OLVA_LAYER_RULES)
    string(REGEX REPLACE "=.*" "" folder "${rule}")
    string(REGEX REPLACE "^[^=]*=" "" allowed "${rule}")
    string(REPLACE "," ";" allowed "${allowed}")
    if(folder STREQUAL ".")
        file(GLOB files ${OLVA_LAYER_SOURCE_DIR}/*.h ${OLVA_LAYER_SOURCE_DIR}/*.cpp)
    else()
        file(GLOB_RECURSE files ${OLVA_LAYER_SOURCE_DIR}/${folder}/*.h
                                ${OLVA_LAYER_SOURCE_DIR}/${folder}/*.cpp)
    endif()
    foreach(file IN LISTS files)
        file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" path "${line}")
            included_folder(${path} target)
            if(target AND NOT target IN_LIST allowed)
                file(RELATIVE_PATH shown ${OLVA_LAYER_SOURCE_DIR} ${file})
                string(REPLACE ";" ", " allowed_text "${allowed}")
                message("${shown} includes \"${path}\": folder ${folder} may use only ${allowed_text}")
                math(EXPR wrong "${wrong} + 1")
            endif()
        endforeach()
    endforeach()
endforeach()

if(wrong GREATER 0)
    message(FATAL_ERROR "${wrong} include(s) reach a layer above their own")
endif()
