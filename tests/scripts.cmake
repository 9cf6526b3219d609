# End to end: the real program under Xvfb with a PulseAudio null sink.
add_executable(pitch_of_wav e2e/pitch_of_wav.cpp)
kivra_warnings(pitch_of_wav)
target_include_directories(pitch_of_wav PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_test(NAME e2e_piano_sounds
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/piano_sounds.sh $<TARGET_FILE:kivra> $<TARGET_FILE:pitch_of_wav>)
set_tests_properties(e2e_piano_sounds PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)
