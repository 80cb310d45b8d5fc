# LUMO_SANITIZE=thread builds everything with ThreadSanitizer;
# LUMO_SANITIZE=address with AddressSanitizer and UndefinedBehaviorSanitizer;
# LUMO_SANITIZE=function (clang only) with both and clang's check that every call through a
# function pointer reaches a function of exactly the pointer's type (the camera library's
# exports, the tables of operations).
if(LUMO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(LUMO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # GCC's instrumentation hides initialisations from its flow analysis, so it reports
  # maybe-uninitialized inside the standard library's std::regex and std::function; the normal
  # build keeps the warning as an error.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
elseif(LUMO_SANITIZE STREQUAL "function")
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES Clang)
    message(FATAL_ERROR "LUMO_SANITIZE=function needs clang (CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=address,undefined,function -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined,function)
elseif(NOT LUMO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "LUMO_SANITIZE must be empty, 'thread', 'address' or 'function'")
endif()
