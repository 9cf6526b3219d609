# Warnings per target, as errors-free builds are the rule.
function(kivra_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
