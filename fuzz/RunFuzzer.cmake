# Runs one fuzz target for a bounded time on a fresh copy of its seeds; fails on any finding.
# cmake -DFUZZER=... -DSEEDS=... -DWORK=... -DSECONDS=... -DMAX_LEN=... -P RunFuzzer.cmake
# VELMORA_FUZZ_SECONDS in the environment asks for a longer run (see README.md).
if(DEFINED ENV{VELMORA_FUZZ_SECONDS})
  set(SECONDS $ENV{VELMORA_FUZZ_SECONDS})
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/artifacts)
file(COPY ${SEEDS}/ DESTINATION ${WORK}/corpus)

set(ENV{ASAN_OPTIONS} "detect_leaks=1:halt_on_error=1")
set(ENV{UBSAN_OPTIONS} "halt_on_error=1:print_stacktrace=1")
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -max_len=${MAX_LEN} -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/ ${WORK}/corpus
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

string(REGEX MATCH "stat::number_of_executed_units: *[0-9]+" executed "${output}")
if(NOT result EQUAL 0)
  message("${output}")
  file(GLOB findings ${WORK}/artifacts/*)
  message(FATAL_ERROR "${FUZZER} failed (${result}); inputs that show it: ${findings}")
endif()
message("${executed}")
