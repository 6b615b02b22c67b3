# The launcher image links no C or C++ runtime: no exceptions, no RTTI, no
# libstdc++, no CRT start-up. Its own entry point takes over.
set(HALVEX_FREESTANDING_FLAGS
    -Os -fno-exceptions -fno-rtti -ffreestanding -fno-builtin
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
    -fno-threadsafe-statics -ffunction-sections -fdata-sections -fno-ident
    -fno-tree-loop-distribute-patterns -mno-stack-arg-probe
    -fomit-frame-pointer)

function(halvex_freestanding target)
  target_compile_options(${target} PRIVATE ${HALVEX_FREESTANDING_FLAGS})
endfunction()
