# The launcher image links no C or C++ runtime: no exceptions, no RTTI, no
# libstdc++, no CRT start-up. Its own entry point takes over.
# Every byte counts: -Oz with link-time optimisation, data aligned only as
# the ABI needs, and no lookup tables for switches (smaller than the code
# they replace here). No -fdata-sections: the compiler then puts each
# zeroed variable in .data rather than .bss, which costs file bytes, and
# link-time optimisation drops unused data anyway. No -ffunction-sections
# either: link-time optimisation leaves no unused code to drop, and each
# function's own section was aligned to 4 bytes, which padded the code by
# 72 bytes. Not -mregparm: it would apply to the Win32 calls too.
# The stack is kept 8-byte aligned, not 16: the code has no SSE, so 16 only
# pads every call, and 4 gave 124 bytes more code when last measured.
# -march=i686 is the compiler's own baseline (pentiumpro); naming it tunes
# for it too instead of for today's processors, which gives shorter code.
# Five transformations that trade size for speed even under -Oz are left
# out (216 bytes in all, each measured on this code): inlining that grows
# a caller's stack frame (-fconserve-stack), the partial inlining that
# copies a function's head into its callers, shrink-wrapping, which copies
# prologues and epilogues onto several paths, tail merging, and the
# mod/ref analysis that lets the inliner go further.
set(HALVEX_FREESTANDING_FLAGS
    -Oz -flto -fno-exceptions -fno-rtti -ffreestanding -fno-builtin
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -fno-threadsafe-statics -fno-ident
    -fno-tree-loop-distribute-patterns -fno-tree-switch-conversion
    -malign-data=abi -mno-stack-arg-probe -fomit-frame-pointer
    -mpreferred-stack-boundary=3 -march=i686 -fconserve-stack
    -fno-partial-inlining -fno-shrink-wrap -fno-tree-tail-merge
    -fno-ipa-modref)

# The image is linked without any runtime, from its own entry point, in the
# sections of launcher-image.ld, stripped and without time stamps so that
# builds are reproducible. It is relocatable and marked for ASLR, NX and
# terminal servers, as release checkers and exploit protection expect.
function(halvex_freestanding target entry)
  target_compile_options(${target} PRIVATE ${HALVEX_FREESTANDING_FLAGS})
  set_target_properties(${target} PROPERTIES LINK_LIBRARIES "")
  target_link_options(${target} PRIVATE
      ${HALVEX_FREESTANDING_FLAGS} -nostdlib -nostartfiles
      -Wl,--entry=${entry} -Wl,-T,${CMAKE_CURRENT_FUNCTION_LIST_DIR}/launcher-image.ld
      -Wl,--gc-sections -s -Wl,--no-insert-timestamp
      -Wl,--enable-reloc-section -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware
      -Wl,--build-id=none)
  target_link_libraries(${target} PRIVATE kernel32 user32 advapi32)
  set_target_properties(${target} PROPERTIES
      LINK_DEPENDS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/launcher-image.ld)
endfunction()
