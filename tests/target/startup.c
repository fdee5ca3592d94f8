/* startup.c: the bare-metal start of a harness image: the vector table, the FPU switched on
 * before any floating-point instruction, .data copied and .bss cleared, newlib's semihosting
 * handles opened, then main and exit (which ends the emulator with main's status). */
#include <stdint.h>
#include <stdlib.h>

extern int main(void);
extern void initialise_monitor_handles(void);
extern uint32_t __data_start, __data_end, __data_load, __bss_start__, __bss_end__, __stack_top;

void reset_handler(void);
void fault_handler(void);
void _init(void);
void _fini(void);

/* Empty: the images have no constructors or destructors, and -nostartfiles drops crti. */
void _init(void) {}
void _fini(void) {}

/* A fault ends the run with a status the harness reports, rather than hanging the emulator. */
void fault_handler(void)
{
    exit(99);
}

__attribute__((section(".vectors"), used)) static void (*const vectors[16])(void) = {
    (void (*)(void))&__stack_top, reset_handler, fault_handler, fault_handler,
    fault_handler, fault_handler, fault_handler, 0, 0, 0, 0, fault_handler,
    fault_handler, 0, fault_handler, fault_handler,
};

/* Naked so that the compiler emits no floating-point instruction before CPACR is set. */
__attribute__((naked)) void reset_handler(void)
{
    __asm__ volatile(
#if defined(__ARM_FP)
        "ldr r0, =0xE000ED88\n"     /* CPACR: full access to CP10 and CP11 */
        "ldr r1, [r0]\n"
        "orr r1, r1, #(0xF << 20)\n"
        "str r1, [r0]\n"
        "dsb\n"
        "isb\n"
#endif
        "b start_c\n");
}

__attribute__((used)) static void start_c(void)
{
    uint32_t *src = &__data_load;
    uint32_t *dst;
    for (dst = &__data_start; dst < &__data_end; ++dst) *dst = *src++;
    for (dst = &__bss_start__; dst < &__bss_end__; ++dst) *dst = 0;
    initialise_monitor_handles();
    exit(main());
}
