/* main.c: the target side of the bit-for-bit check. Reads commands from ctl.in over
 * semihosting, one a line: "u YYYYYYYYYYYYYYYY DDDDDDDDDDDDDDDD" (y and yd as the hex bits
 * of doubles) runs one update, "r" resets. Writes to ctl.out the size of ctl_t, then per
 * update the bits of the input and of every entry of the estimate, one line each.
 * Built with -DCOST_UPDATES=K instead, it runs K updates on fixed samples and does no I/O:
 * two such images differ by the instructions of the extra updates. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "ctl.h"

static ctl_t c;

#ifdef COST_UPDATES
static volatile double sink;
static const double samples[8] = {0.5, -1.25, 2.0, 0.75, -0.125, 3.5, 1.0, -2.5};

int main(void)
{
    int k;
    ctl_init(&c);
    for (k = 0; k < COST_UPDATES; ++k) sink = ctl_update(&c, samples[k & 7], 1.0);
    return 0;
}
#else
#include "bits_io.h"

int main(void)
{
    char line[64];
    FILE *in = fopen("ctl.in", "r");
    FILE *out = fopen("ctl.out", "w");
    if (in == NULL || out == NULL) return 2;
    ctl_init(&c);
    fprintf(out, "%d\n", (int)sizeof c);
    while (fgets(line, sizeof line, in) != NULL) {
        double y, yd;
        if (line[0] == 'r') {
            ctl_reset(&c);
        } else if (line[0] == 'u' && parse(line + 2, &y) && parse(line + 19, &yd)) {
            show(out, ctl_update(&c, y, yd));
#ifdef CTL_N
            { int i; for (i = 0; i < c.phi_len; ++i) show(out, c.phi_hat[i]); }
#else
            show(out, c.phi_hat);
#endif
            fputc('\n', out);
        } else {
            return 3;
        }
    }
    if (fclose(in) != 0 || fclose(out) != 0) return 4;
    return 0;
}
#endif
