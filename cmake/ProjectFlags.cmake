# Compiler settings shared by every target of the project.

if(SETUP_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set(SETUP_WARNINGS -Wall -Wextra -Werror)

# Code that goes into setup.exe: small, no C++ runtime weight, warnings as errors.
# Function sections let the linker drop unused code. Data sections are left
# out: MinGW would then store zero-initialised variables in the file as .data
# instead of .bss, and one such section costs 512 bytes of setup.exe.
function(setup_product_code target)
  target_compile_options(${target} PRIVATE ${SETUP_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -fno-asynchronous-unwind-tables -ffunction-sections)
endfunction()

# Everything else (setuppack, tests, benchmark).
function(setup_tool_code target)
  target_compile_options(${target} PRIVATE ${SETUP_WARNINGS})
endfunction()
