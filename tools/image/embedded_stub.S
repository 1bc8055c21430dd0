# The bytes of the launcher stub (the Windows build's talvik-stub.exe, named by the build as
# TALVIK_STUB_FILE), compiled into talvik so that packing needs no file beside it.
#if defined(__ELF__)
    .section .rodata
#else
    .section .rdata,"dr"
#endif
    .globl talvik_embedded_stub
    .balign 16
talvik_embedded_stub:
    .incbin TALVIK_STUB_FILE
    .globl talvik_embedded_stub_end
talvik_embedded_stub_end:
#if defined(__ELF__)
    .section .note.GNU-stack,"",@progbits
#endif
