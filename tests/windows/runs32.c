/* Exits 0 when this process can run 32-bit code: it switches to the 32-bit
   user code segment (the one Wine's WoW64 mode runs 32-bit Windows code in)
   and back.  A host whose kernel or hypervisor offers no such segment faults
   on the switch: exit 1. */
#include <signal.h>
#include <unistd.h>

void qapiProbe32(void);
__asm__(".text\n"
        ".globl qapiProbe32\n"
        "qapiProbe32:\n"
        "  movq %rsp, saved_rsp(%rip)\n"
        "  ljmpl *to32(%rip)\n"
        ".code32\n"
        "in32:\n"
        "  ljmp $0x33, $back64\n"
        ".code64\n"
        "back64:\n"
        "  movq saved_rsp(%rip), %rsp\n"
        "  ret\n"
        ".data\n"
        "saved_rsp: .quad 0\n"
        "to32: .long in32\n"
        "  .word 0x23\n"
        ".text\n");

static void onFault(int signal) {
    (void)signal;
    _exit(1);
}

int main(void) {
    signal(SIGSEGV, onFault);
    signal(SIGBUS, onFault);
    signal(SIGILL, onFault);
    qapiProbe32();
    return 0;
}
