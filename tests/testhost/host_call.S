# HostCall: calls a routine the way the host's compiled code would, from a
# frame that checks the stack afterwards.
#
#   int32_t HostCall(const void* routine, int32_t convention, const void* receiver,
#                    const uint32_t* arguments, int32_t count, uint32_t* eaxEdx)
#
# convention: 0 cdecl (the caller pops), 1 stdcall or 2 thiscall (the callee
# pops; thiscall also loads receiver into ECX). Stores EAX and EDX after the
# call in eaxEdx[0] and eaxEdx[1]; returns by how many bytes ESP differs from
# where the caller expects it (0 when the routine kept its convention).
    .text
    .globl HostCall
    .type HostCall, @function
HostCall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, %ebx            # ESP before the arguments
    movl 20(%ebp), %esi        # arguments
    movl 24(%ebp), %edx        # count
1:  testl %edx, %edx
    jz 2f
    decl %edx
    pushl (%esi,%edx,4)
    jmp 1b
2:  movl 16(%ebp), %ecx        # receiver
    movl 8(%ebp), %eax
    call *%eax
    cmpl $0, 12(%ebp)
    jne 3f
    movl 24(%ebp), %ecx        # cdecl: pop the arguments
    leal (%esp,%ecx,4), %esp
3:  movl 28(%ebp), %esi
    movl %eax, (%esi)
    movl %edx, 4(%esi)
    movl %esp, %eax
    subl %ebx, %eax
    movl %ebx, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
    .size HostCall, .-HostCall
    .section .note.GNU-stack,"",@progbits
