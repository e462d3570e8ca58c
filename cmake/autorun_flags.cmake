# Compiler and linker settings for the program's own code.

# Warnings for a target of our own.
function(autorun_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(AUTORUN_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A piece of the shipping program: small, no exceptions or RTTI, so that the
# static runtime adds little and the program imports only system libraries.
function(autorun_product_code target)
  autorun_warnings(${target})
  target_compile_options(${target} PRIVATE -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
                                           -ffunction-sections -fdata-sections)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/resources)
endfunction()

# A Windows program or library of our own (product, stand-in or test): link the
# runtime statically so that only system libraries are imported.
function(autorun_static_link target)
  target_link_options(${target} PRIVATE -static)
endfunction()

# Native builds of plain logic: sanitizers on, except where measuring speed
# (the benchmark build turns them off).
option(AUTORUN_SANITIZE "Build native code with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(AUTORUN_SANITIZE)
  set(AUTORUN_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
else()
  set(AUTORUN_SANITIZER_FLAGS "")
endif()

# A stand-in or test helper for the Windows builds (see standins/ and
# tests/fixtures/): a small file beside autorun.exe, under a name of its own.
function(autorun_standin target output_name)
  autorun_warnings(${target})
  autorun_static_link(${target})
  target_link_options(${target} PRIVATE -s)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output_name}
                                             RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
