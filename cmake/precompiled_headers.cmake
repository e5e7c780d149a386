# Precompiled headers for the test programs. Every test file parses gtest and gmock (some 2.5 s
# of a compiler's time each, more than most test files themselves); precompiled once per program,
# they cost a fraction of that. The product's own code does without them, so that a file which
# forgets an include still fails to compile.
option(TOLVANE_PCH "Precompile gtest, gmock and the standard headers for the test programs" ON)

if(TOLVANE_PCH AND CCACHE_PROGRAM)
  # ccache caches a file compiled against a precompiled header only when told that the header's
  # __DATE__/__TIME__ and its defines may be taken from the header file itself.
  set(CMAKE_CXX_COMPILER_LAUNCHER env CCACHE_SLOPPINESS=pch_defines,time_macros
                                  "${CCACHE_PROGRAM}")
endif()

function(tolvane_precompile_test_headers target)
  if(TOLVANE_PCH)
    target_precompile_headers(
      ${target} PRIVATE <gmock/gmock.h> <gtest/gtest.h> <chrono> <filesystem> <functional>
      <map> <memory> <optional> <string> <string_view> <vector>)
  endif()
endfunction()
