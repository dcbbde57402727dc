# Runs both benchmark programs in their short mode (ctest's bench_short).
foreach(program IN ITEMS "${OPS}" "${MUTEX}")
  execute_process(COMMAND "${program}" --benchmark_min_time=0.01 --strict RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${program} failed (${result})")
  endif()
endforeach()
