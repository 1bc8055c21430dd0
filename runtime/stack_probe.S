# ___chkstk_ms: touch every page of a large stack frame in order, so that the guard page
# grows the stack (only 4096 bytes are committed up front). Size in rax; preserves all
# registers, as the compiler expects.
    .text
    .globl ___chkstk_ms
___chkstk_ms:
    pushq   %rcx
    pushq   %rax
    cmpq    $0x1000, %rax
    leaq    24(%rsp), %rcx
    jb      2f
1:
    subq    $0x1000, %rcx
    orq     $0, (%rcx)
    subq    $0x1000, %rax
    cmpq    $0x1000, %rax
    ja      1b
2:
    subq    %rax, %rcx
    orq     $0, (%rcx)
    popq    %rax
    popq    %rcx
    ret
