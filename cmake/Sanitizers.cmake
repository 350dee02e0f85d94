# PARLINO_SANITIZE: empty, "address;undefined" or "thread". Applied to every
# target of the tree, so the code under test and the tests are instrumented
# alike.
set(PARLINO_SANITIZE "" CACHE STRING "Sanitizers for the native build: address;undefined or thread")

if(PARLINO_SANITIZE)
  if(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "Sanitizers are for the native build only")
  endif()
  list(JOIN PARLINO_SANITIZE "," _san)
  add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_san})
endif()
