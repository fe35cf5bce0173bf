# Entrances to the simulated console's state-preserving routines. The game's
# routines of that kind keep no register for their caller, so each entrance
# records the callee-saved registers it was entered with, scrambles every
# general register but ECX (the receiver of a member call) and the arithmetic
# flags, and jumps on to the routine: the caller's stack and arguments are
# untouched, and the routine returns straight to the caller with the scrambled
# values in place. A caller that does not save and restore around the call
# finds them afterwards.
#
#   testhost_console_trashing_targets[i]    where entrance i jumps to
#   testhost_console_entry_registers[4*i]   EBX, ESI, EDI, EBP at entrance i
#   testhost_console_trashing_stub_i        entrance i, for i in 0..15
#
# The values written are those of console_sim.h (ScrambledEbx and so on).
    .data
    .globl testhost_console_trashing_targets
    .align 4
testhost_console_trashing_targets:
    .fill 16, 4, 0
    .globl testhost_console_entry_registers
    .align 4
testhost_console_entry_registers:
    .fill 64, 4, 0

    .text
.macro TRASHING_STUB index
    .globl testhost_console_trashing_stub_\index
    .type testhost_console_trashing_stub_\index, @function
testhost_console_trashing_stub_\index:
    movl %ebx, testhost_console_entry_registers + 16 * \index
    movl %esi, testhost_console_entry_registers + 16 * \index + 4
    movl %edi, testhost_console_entry_registers + 16 * \index + 8
    movl %ebp, testhost_console_entry_registers + 16 * \index + 12
    movl $0xB0B0B0B0, %ebx
    movl $0x51515151, %esi
    movl $0xD1D1D1D1, %edi
    movl $0xBEBEBEBE, %ebp
    movl $0xEAEAEAEA, %eax
    movl $0xEDEDEDED, %edx
    addl %eax, %edx                 # carry, sign: whatever the caller had is gone
    movl $0xEDEDEDED, %edx
    jmp *testhost_console_trashing_targets + 4 * \index
    .size testhost_console_trashing_stub_\index, .-testhost_console_trashing_stub_\index
.endm

    TRASHING_STUB 0
    TRASHING_STUB 1
    TRASHING_STUB 2
    TRASHING_STUB 3
    TRASHING_STUB 4
    TRASHING_STUB 5
    TRASHING_STUB 6
    TRASHING_STUB 7
    TRASHING_STUB 8
    TRASHING_STUB 9
    TRASHING_STUB 10
    TRASHING_STUB 11
    TRASHING_STUB 12
    TRASHING_STUB 13
    TRASHING_STUB 14
    TRASHING_STUB 15

    .section .note.GNU-stack,"",@progbits
