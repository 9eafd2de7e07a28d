# Each fuzz target in the normal build, with replay_main.cpp for a main:
# a test case feeds it every input of its seed corpus (corpus/NAME) and of
# the crashes kept as regressions (crashes/NAME, where one exists) once,
# under whatever sanitizers the build has. A crash found by scripts/fuzz is
# kept by adding its file to crashes/NAME (a new folder needs a new cmake
# run).
add_library(olva_fuzz_replay_main OBJECT replay_main.cpp)
function(olva_add_corpus_replay name)
    add_executable(fuzz_replay_${name} ${name}_fuzzer.cpp)
    target_link_libraries(fuzz_replay_${name} PRIVATE olva_fuzz_replay_main ${ARGN})
    set(inputs ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/crashes/${name})
        list(APPEND inputs ${CMAKE_CURRENT_SOURCE_DIR}/crashes/${name})
    endif()
    add_test(NAME fuzz_replay.${name} COMMAND fuzz_replay_${name} ${inputs})
    set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT ${OLVA_TEST_TIMEOUT})
endfunction()

olva_add_corpus_replay(ini olva_base)
olva_add_corpus_replay(sms_pdu olva_codecs)
olva_add_corpus_replay(received_sms olva_gsm)
olva_add_corpus_replay(gsm_lines olva_gsm)
olva_add_corpus_replay(status_report olva_usb)
olva_add_corpus_replay(tz2501b_status olva_usb)
olva_add_corpus_replay(tz2701_status olva_usb)
olva_add_corpus_replay(cid_message olva_engine)
olva_add_corpus_replay(wav_header olva_engine)
# Its line is set up through the tests' way into a line's state.
target_include_directories(fuzz_replay_cid_message PRIVATE ${PROJECT_SOURCE_DIR}/tests)
olva_add_corpus_replay(http_text olva_web)
# The web service over the tests' fake device library.
olva_add_corpus_replay(ws_command olva_web olva_fake_device)
olva_add_corpus_replay(http_api olva_web olva_fake_device)

# A replay that finds nothing to feed fails rather than pass for a clean one.
add_test(NAME fuzz_replay.a_missing_corpus_fails
         COMMAND fuzz_replay_ini ${CMAKE_CURRENT_SOURCE_DIR}/corpus/no_such_target)
set_tests_properties(fuzz_replay.a_missing_corpus_fails PROPERTIES WILL_FAIL ON)
