/* mimo_main.c: the target side of the bit-for-bit check of an exported MIMO controller.
 * Reads commands from ctl.in over semihosting, one a line: "u" and then the 2 * CTL_DIM hex
 * bits of y and yd, each preceded by a space, runs one update; "r" resets. Writes to
 * ctl.out the size of ctl_t, then per update the bits of u and of every entry of the
 * layers, one line each. Built with -DCOST_UPDATES=K instead, it runs K updates on fixed
 * samples and does no I/O: two such images differ by the instructions of the extra
 * updates. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "ctl.h"

static ctl_t c;
static double y[CTL_DIM];
static double yd[CTL_DIM];
static double u[CTL_DIM];

#ifdef COST_UPDATES
static volatile double sink;
static const double samples[8] = {0.5, -1.25, 2.0, 0.75, -0.125, 3.5, 1.0, -2.5};

int main(void)
{
    int k;
    unsigned i;
    ctl_init(&c);
    for (k = 0; k < COST_UPDATES; ++k) {
        for (i = 0; i < CTL_DIM; ++i) {
            y[i] = samples[((unsigned)k + i) & 7U];
            yd[i] = 1.0;
        }
        ctl_update(&c, y, yd, u);
        sink = u[0];
    }
    return 0;
}
#else
#include "bits_io.h"

/* y and yd from the hex fields after "u"; 0 when one is missing or malformed. */
static int samples_of(const char *line)
{
    unsigned i;
    for (i = 0; i < 2U * CTL_DIM; ++i) {
        const char *field = line + 2 + 17 * i;
        if (field[-1] != ' ' || !parse(field, i < CTL_DIM ? &y[i] : &yd[i - CTL_DIM])) return 0;
    }
    return 1;
}

int main(void)
{
    static char line[40 * CTL_DIM + 8];
    FILE *in = fopen("ctl.in", "r");
    FILE *out = fopen("ctl.out", "w");
    unsigned i;
    if (in == NULL || out == NULL) return 2;
    ctl_init(&c);
    fprintf(out, "%d\n", (int)sizeof c);
    while (fgets(line, sizeof line, in) != NULL) {
        if (line[0] == 'r') {
            ctl_reset(&c);
        } else if (line[0] == 'u' && samples_of(line)) {
            ctl_update(&c, y, yd, u);
            for (i = 0; i < CTL_DIM; ++i) show(out, u[i]);
            for (i = 0; i < CTL_PHI_ENTRIES; ++i) show(out, c.layers[i]);
            fputc('\n', out);
        } else {
            return 3;
        }
    }
    if (fclose(in) != 0 || fclose(out) != 0) return 4;
    return 0;
}
#endif
