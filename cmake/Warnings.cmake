# Strict warnings for the project's own targets only; dependencies such as
# cJSON and GoogleTest are compiled with their own defaults.
function(parlino_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
endfunction()
