# Wine lanes: the end-to-end tests run in a few lanes at once, each with a Wine prefix and an X display of its
# own (scripts/wine-lane.sh), one test at a time within a lane. A Wine run mostly waits on cross-process
# round trips, so lanes side by side use the machine that one lane leaves idle. The lane "main" is the
# prefix and display the tests are started with (scripts/wine-env.sh); every other lane is made by a CTest
# fixture and ended after its last test.
set(CORVIX_WINE_LANES_DIR ${CMAKE_BINARY_DIR}/wine-lanes)

# The fixture tests that start and stop lane LANE (not "main"); once per lane, in one directory.
function(corvix_wine_lane_fixture lane)
  set(dir ${CORVIX_WINE_LANES_DIR}/${lane})
  add_test(NAME wine_lane.${lane}.start COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine-lane.sh start ${dir})
  set_tests_properties(wine_lane.${lane}.start PROPERTIES TIMEOUT 300 FIXTURES_SETUP wine_lane_${lane})
  add_test(NAME wine_lane.${lane}.stop COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine-lane.sh stop ${dir})
  set_tests_properties(wine_lane.${lane}.stop PROPERTIES TIMEOUT 60 FIXTURES_CLEANUP wine_lane_${lane})
endfunction()

# Runs TEST in lane LANE: alone there, and in that lane's prefix and display.
function(corvix_in_wine_lane test lane)
  set_tests_properties(${test} PROPERTIES RESOURCE_LOCK wine_lane_${lane})
  if(NOT lane STREQUAL "main")
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine_lane_${lane})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT CORVIX_WINE_LANE=${CORVIX_WINE_LANES_DIR}/${lane})
  endif()
endfunction()

# A test that runs 32-bit programs under Wine starts its command through CORVIX_IF_32BIT, and is marked with
# corvix_needs_32bit: on a host whose kernel runs no 32-bit programs (or with CORVIX_NO_32BIT=1) the command
# does not run, the test prints why and CTest reports it skipped (scripts/host-32bit.sh).
set(CORVIX_IF_32BIT bash ${PROJECT_SOURCE_DIR}/scripts/host-32bit.sh --run)
function(corvix_needs_32bit test)
  set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
