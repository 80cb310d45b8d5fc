# Warnings every target of ours gets; the test build treats them as errors.
add_library(lumo_warnings INTERFACE)
target_compile_options(lumo_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused -Woverloaded-virtual
  -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
if(LUMO_WERROR)
  target_compile_options(lumo_warnings INTERFACE -Werror)
endif()
