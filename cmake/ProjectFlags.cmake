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
#
# On i686, calls push their arguments (-mno-accumulate-outgoing-args) instead
# of storing them into space reserved in every frame and reserving that again
# after every stdcall callee has popped it: 1,200 bytes less code in
# setup.exe. GCC allows that only without stack probes, so product code is
# built without them, and a frame of more than 3,000 bytes is an error: a
# frame that stays within the 4 KB guard page below the stack needs no probe
# (GCC itself probes only from 4,000 bytes). alloca and variable-length
# arrays, which would need probes too, are errors as well. The few sources
# with larger frames keep their probes, through setup_probed_sources.
#
# The i686 toolchain's default target is the Pentium Pro, whose CMOV the
# original Pentium lacks: setup.exe is built for the Pentium (no CMOV, no
# MMX or SSE; the code tree's vector search is then left out at compile
# time), scheduled for current processors. Data keeps the alignment its type
# needs (-malign-data=abi): GCC would put tables of 32 bytes and more on
# 32-byte boundaries for the cache, padding that the 26 KB setup.exe has no
# room for.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(SETUP_CALL_OPTIONS -march=pentium -mtune=generic -malign-data=abi -mno-accumulate-outgoing-args
    -mno-stack-arg-probe -Wframe-larger-than=3000 -Walloca -Wvla)
else()
  set(SETUP_CALL_OPTIONS)
endif()
function(setup_product_code target)
  target_compile_options(${target} PRIVATE ${SETUP_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -fno-asynchronous-unwind-tables -ffunction-sections ${SETUP_CALL_OPTIONS})
endfunction()

# Sources of product code with a frame above 3,000 bytes: built with stack
# probes (which take the reserved argument space with them).
function(setup_probed_sources)
  if(SETUP_CALL_OPTIONS)
    set_property(SOURCE ${ARGN} APPEND PROPERTY COMPILE_OPTIONS
      -mstack-arg-probe -maccumulate-outgoing-args -Wno-frame-larger-than)
  endif()
endfunction()

# Everything else (setuppack, tests, benchmark).
function(setup_tool_code target)
  target_compile_options(${target} PRIVATE ${SETUP_WARNINGS})
endfunction()
