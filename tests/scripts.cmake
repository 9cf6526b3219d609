# Test scripts run by CTest beside the GoogleTest suites.

# Packaging: builds the .deb from this build folder, unpacks it and checks the installed tree;
# exits 77 (skipped) when a validator such as lintian is not installed.
add_test(NAME package_check
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging/check_package.sh ${PROJECT_BINARY_DIR})
set_tests_properties(package_check PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 900)

# End to end: the real program under Xvfb with a PulseAudio null sink.
add_executable(pitch_of_wav e2e/pitch_of_wav.cpp)
kivra_warnings(pitch_of_wav)
target_include_directories(pitch_of_wav PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_test(NAME e2e_piano_sounds
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/piano_sounds.sh $<TARGET_FILE:kivra> $<TARGET_FILE:pitch_of_wav>)
set_tests_properties(e2e_piano_sounds PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)

# End to end: the key filter under Xvfb with auto-repeat on, keys typed with xdotool.
add_test(NAME e2e_x11_keyboard COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/x11_keyboard.sh $<TARGET_FILE:test_keyboard>)
set_tests_properties(e2e_x11_keyboard PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)

# End to end: the real program in a JACK graph (a JACK server of its own, dummy driver).
add_test(NAME e2e_jack_ports COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/jack_ports.sh $<TARGET_FILE:kivra>)
set_tests_properties(e2e_jack_ports PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)

# End to end: kivra started from the shell with a song file, a second start handing its file over.
add_test(NAME e2e_open_files COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/open_files.sh $<TARGET_FILE:kivra>)
set_tests_properties(e2e_open_files PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)

# End to end: two real pianos on one relay with Band Play, started and stopped together.
add_test(NAME e2e_band_play
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/band_play.sh $<TARGET_FILE:kivra> $<TARGET_FILE:kivra-relay>)
set_tests_properties(e2e_band_play PROPERTIES LABELS e2e SKIP_RETURN_CODE 77 TIMEOUT 120 RUN_SERIAL TRUE)
