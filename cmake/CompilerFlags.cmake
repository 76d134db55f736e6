# Flags shared by every target of the project.
#
# The signal chain is reproducible bit for bit only when no multiply-add is fused and no
# floating-point reassociation is allowed, so -ffp-contract=off is set for every target and
# nothing from -ffast-math is ever enabled. Release builds target baseline x86-64 so that the
# binaries run on any 64-bit PC.

set(ZELKO_COMMON_FLAGS -Wall -Wextra -ffp-contract=off -fno-fast-math -fvisibility=hidden
                       -fvisibility-inlines-hidden)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64" OR CMAKE_CROSSCOMPILING)
  list(APPEND ZELKO_COMMON_FLAGS -march=x86-64 -mtune=generic)
endif()

if(ZELKO_SANITIZE)
  set(ZELKO_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
                            -fno-sanitize-recover=undefined)
  add_compile_options(${ZELKO_SANITIZER_FLAGS})
  add_link_options(${ZELKO_SANITIZER_FLAGS})
endif()

function(zelko_apply_flags target)
  target_compile_options(${target} PRIVATE ${ZELKO_COMMON_FLAGS})
endfunction()
