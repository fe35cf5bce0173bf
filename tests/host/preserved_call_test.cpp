// The state-preserving call sequences, run as they are written, with every
// general register and the arithmetic flags loaded with sentinels, against a
// host routine that overwrites all of them: the caller must find each one as
// it was, and the routine must have received its receiver and arguments.
#include "address_space.h"
#include "host/entry_points.h"
#include "host/preserved_call.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace host = quorvane::host;

extern "C" {
// Offsets used by the asm below: eax 0, ebx 4, ecx 8, edx 12, esi 16,
// edi 20, ebp 24, esp 28, flags 32.
struct Registers {
    std::uint32_t eax, ebx, ecx, edx, esi, edi, ebp, esp, flags;
};
Registers qvLoaded;
Registers qvAfter;
std::uint32_t qvSeenEcx, qvSeenArgument0, qvSeenArgument1;
std::uint32_t qvRoutineCalls;
std::uint32_t qvOrderA, qvOrderB;
}

// A host routine that keeps nothing: it records what it was given, then
// overwrites every general register but ESP, and the flags.
#define QV_CLOBBERING_ROUTINE(name, order, ret)                                                    \
    "    .globl " #name "\n" #name ":\n"                                                           \
    "    movl %ecx, qvSeenEcx\n"                                                                   \
    "    movl 4(%esp), %eax\n"                                                                     \
    "    movl %eax, qvSeenArgument0\n"                                                             \
    "    movl 8(%esp), %eax\n"                                                                     \
    "    movl %eax, qvSeenArgument1\n"                                                             \
    "    incl qvRoutineCalls\n"                                                                    \
    "    movl qvRoutineCalls, %eax\n"                                                              \
    "    movl %eax, " #order "\n"                                                                  \
    "    movl $0xDEAD0000, %eax\n"                                                                 \
    "    movl $0xDEAD0001, %ebx\n"                                                                 \
    "    movl $0xDEAD0002, %ecx\n"                                                                 \
    "    movl $0xDEAD0003, %edx\n"                                                                 \
    "    movl $0xDEAD0004, %esi\n"                                                                 \
    "    movl $0xDEAD0005, %edi\n"                                                                 \
    "    movl $0xDEAD0006, %ebp\n"                                                                 \
    "    pushl $0x00000046\n" /* ZF and PF set, the sentinels' flags clear */                      \
    "    popfl\n"                                                                                  \
    "    " ret "\n"

asm(".text\n" QV_CLOBBERING_ROUTINE(QvClobberPlain, qvOrderA, "ret")
        QV_CLOBBERING_ROUTINE(QvClobberPops4, qvOrderA, "ret $4")
            QV_CLOBBERING_ROUTINE(QvClobberFirst, qvOrderA, "ret")
                QV_CLOBBERING_ROUTINE(QvClobberSecond, qvOrderB, "ret"));

extern "C" void QvClobberPlain();
extern "C" void QvClobberPops4();
extern "C" void QvClobberFirst();
extern "C" void QvClobberSecond();

// Loads qvLoaded into every register and the flags, runs the sequence, and
// stores every register, ESP and the flags into qvAfter. EBP, EBX, ESI and
// EDI are the compiler's; they are saved around the whole block here.
#define QV_RUN_WITH_SENTINELS(sequence)                                                            \
    asm volatile("pushl %%ebp\n\t"                                                                 \
                 "pushl %%ebx\n\t"                                                                 \
                 "pushl %%esi\n\t"                                                                 \
                 "pushl %%edi\n\t"                                                                 \
                 "movl %%esp, qvLoaded+28\n\t"                                                     \
                 "pushl qvLoaded+32\n\t"                                                           \
                 "popfl\n\t"                                                                       \
                 "movl qvLoaded+4, %%ebx\n\t"                                                      \
                 "movl qvLoaded+8, %%ecx\n\t"                                                      \
                 "movl qvLoaded+12, %%edx\n\t"                                                     \
                 "movl qvLoaded+16, %%esi\n\t"                                                     \
                 "movl qvLoaded+20, %%edi\n\t"                                                     \
                 "movl qvLoaded+24, %%ebp\n\t"                                                     \
                 "movl qvLoaded+0, %%eax\n\t" sequence "pushfl\n\t"                                \
                 "popl qvAfter+32\n\t"                                                             \
                 "movl %%eax, qvAfter+0\n\t"                                                       \
                 "movl %%ebx, qvAfter+4\n\t"                                                       \
                 "movl %%ecx, qvAfter+8\n\t"                                                       \
                 "movl %%edx, qvAfter+12\n\t"                                                      \
                 "movl %%esi, qvAfter+16\n\t"                                                      \
                 "movl %%edi, qvAfter+20\n\t"                                                      \
                 "movl %%ebp, qvAfter+24\n\t"                                                      \
                 "movl %%esp, qvAfter+28\n\t"                                                      \
                 "popl %%edi\n\t"                                                                  \
                 "popl %%esi\n\t"                                                                  \
                 "popl %%ebx\n\t"                                                                  \
                 "popl %%ebp\n\t"                                                                  \
                 :                                                                                 \
                 :                                                                                 \
                 : "eax", "ecx", "edx", "memory", "cc")

namespace {

// CF, AF, SF and OF set; ZF and PF clear (bit 1 is always set).
constexpr std::uint32_t SentinelFlags = 0x0893;
constexpr std::uint32_t ArithmeticFlags = 0x08D5;

class PreservedCallTest : public testing::Test {
  protected:
    // EAX, ECX and EDX carry the sequence's operands; the others are sentinels.
    void Load(std::uintptr_t routine, std::uint32_t ecx, std::uint32_t edx) {
        qvLoaded = Registers{static_cast<std::uint32_t>(routine),
                             0xB0B0B0B0,
                             ecx,
                             edx,
                             0x51515151,
                             0xD1D1D1D1,
                             0xEBEBEBEB,
                             0,
                             SentinelFlags};
        qvAfter = Registers{};
        qvSeenEcx = qvSeenArgument0 = qvSeenArgument1 = 0;
        qvRoutineCalls = qvOrderA = qvOrderB = 0;
    }

    void ExpectEverythingKept() {
        EXPECT_EQ(qvAfter.eax, qvLoaded.eax);
        EXPECT_EQ(qvAfter.ebx, qvLoaded.ebx);
        EXPECT_EQ(qvAfter.ecx, qvLoaded.ecx);
        EXPECT_EQ(qvAfter.edx, qvLoaded.edx);
        EXPECT_EQ(qvAfter.esi, qvLoaded.esi);
        EXPECT_EQ(qvAfter.edi, qvLoaded.edi);
        EXPECT_EQ(qvAfter.ebp, qvLoaded.ebp);
        EXPECT_EQ(qvAfter.esp, qvLoaded.esp);
        EXPECT_EQ(qvAfter.flags & ArithmeticFlags, SentinelFlags & ArithmeticFlags);
    }
};

constexpr std::uint32_t Receiver = 0x00C0FFEE;
constexpr std::uint32_t First = 0x11112222;
constexpr std::uint32_t Second = 0x33334444;

TEST_F(PreservedCallTest, MemberCallWithoutArgument) {
    testhost::Install(host::MenuAddReference, reinterpret_cast<const void*>(&QvClobberPlain));
    Load(host::MenuAddReference.address, 0, Receiver);
    QV_RUN_WITH_SENTINELS(QV_PRESERVED_MEMBER0);
    ExpectEverythingKept();
    EXPECT_EQ(qvRoutineCalls, 1u);
    EXPECT_EQ(qvSeenEcx, Receiver);
}

TEST_F(PreservedCallTest, MemberCallWithOneArgumentThatTheRoutinePops) {
    testhost::Install(host::GetReferenceHandle, reinterpret_cast<const void*>(&QvClobberPops4));
    Load(host::GetReferenceHandle.address, First, Receiver);
    QV_RUN_WITH_SENTINELS(QV_PRESERVED_MEMBER1);
    ExpectEverythingKept();
    EXPECT_EQ(qvRoutineCalls, 1u);
    EXPECT_EQ(qvSeenEcx, Receiver);
    EXPECT_EQ(qvSeenArgument0, First);
}

TEST_F(PreservedCallTest, PlainCallWithOneArgument) {
    testhost::Install(host::RunConsoleCommand, reinterpret_cast<const void*>(&QvClobberPlain));
    Load(host::RunConsoleCommand.address, 0, First);
    QV_RUN_WITH_SENTINELS(QV_PRESERVED_PLAIN1);
    ExpectEverythingKept();
    EXPECT_EQ(qvRoutineCalls, 1u);
    EXPECT_EQ(qvSeenArgument0, First);
}

TEST_F(PreservedCallTest, PlainCallWithTwoArguments) {
    testhost::Install(host::LookUpReferenceByHandle,
                      reinterpret_cast<const void*>(&QvClobberPlain));
    Load(host::LookUpReferenceByHandle.address, Second, First);
    QV_RUN_WITH_SENTINELS(QV_PRESERVED_PLAIN2);
    ExpectEverythingKept();
    EXPECT_EQ(qvRoutineCalls, 1u);
    EXPECT_EQ(qvSeenArgument0, First);
    EXPECT_EQ(qvSeenArgument1, Second);
}

TEST_F(PreservedCallTest, TwoRoutinesInOneBlockRunInOrder) {
    testhost::Install(host::InitializeConsoleStep1, reinterpret_cast<const void*>(&QvClobberFirst));
    testhost::Install(host::InitializeConsoleStep2,
                      reinterpret_cast<const void*>(&QvClobberSecond));
    Load(host::InitializeConsoleStep1.address, 0, host::InitializeConsoleStep2.address);
    QV_RUN_WITH_SENTINELS(QV_PRESERVED_PLAIN0_PAIR);
    ExpectEverythingKept();
    EXPECT_EQ(qvRoutineCalls, 2u);
    EXPECT_EQ(qvOrderA, 1u);
    EXPECT_EQ(qvOrderB, 2u);
}

// The wrappers pin their operands to the registers that the sequences expect.
TEST_F(PreservedCallTest, TheWrappersHandTheRoutineItsReceiverAndArguments) {
    testhost::Install(host::GetReferenceHandle, reinterpret_cast<const void*>(&QvClobberPops4));
    testhost::Install(host::LookUpReferenceByHandle,
                      reinterpret_cast<const void*>(&QvClobberPlain));
    testhost::Install(host::InitializeConsoleStep1, reinterpret_cast<const void*>(&QvClobberFirst));
    testhost::Install(host::InitializeConsoleStep2,
                      reinterpret_cast<const void*>(&QvClobberSecond));
    int object = 0;
    volatile std::uint32_t kept = 0x600DF00D;

    qvRoutineCalls = 0;
    host::Call(host::GetReferenceHandle, &object, First);
    EXPECT_EQ(qvSeenEcx, host::Word(&object));
    EXPECT_EQ(qvSeenArgument0, First);

    host::Call(host::LookUpReferenceByHandle, First, Second);
    EXPECT_EQ(qvSeenArgument0, First);
    EXPECT_EQ(qvSeenArgument1, Second);

    qvRoutineCalls = 0;
    host::CallInOneBlock(host::InitializeConsoleStep1, host::InitializeConsoleStep2);
    EXPECT_EQ(qvOrderA, 1u);
    EXPECT_EQ(qvOrderB, 2u);
    EXPECT_EQ(kept, 0x600DF00Du);
}

} // namespace
