/* main.c: the target side of the bit-for-bit check. Reads commands from ctl.in over
 * semihosting, one a line: "u" and then the hex bits of y and yd, each preceded by a space
 * (one double each, CTL_DIM each for a MIMO controller), runs one update; "r" resets.
 * Writes to ctl.out the size of ctl_t, then per update the bits of the input and of every
 * entry of the estimate (of every layer, MIMO), one line each.
 * Built with -DCOST_UPDATES=K instead, it runs K updates on fixed samples and does no I/O:
 * two such images differ by the instructions of the extra updates. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include "ctl.h"

static ctl_t c;

#ifdef CTL_PHI_ENTRIES /* a MIMO controller */
static double y[CTL_DIM];
static double yd[CTL_DIM];
static double u[CTL_DIM];
#define LINE_BYTES (40 * CTL_DIM + 8)
#else
#define LINE_BYTES 64
#endif

#ifdef COST_UPDATES
static volatile double sink;
static const double samples[8] = {0.5, -1.25, 2.0, 0.75, -0.125, 3.5, 1.0, -2.5};

int main(void)
{
    int k;
    ctl_init(&c);
    for (k = 0; k < COST_UPDATES; ++k) {
#ifdef CTL_PHI_ENTRIES
        unsigned i;
        for (i = 0; i < CTL_DIM; ++i) {
            y[i] = samples[((unsigned)k + i) & 7U];
            yd[i] = 1.0;
        }
        ctl_update(&c, y, yd, u);
        sink = u[0];
#else
        sink = ctl_update(&c, samples[k & 7], 1.0);
#endif
    }
    return 0;
}
#else
static int hex_digit(int ch)
{
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

/* The double whose bits are the 16 hex digits at s; 0 when they are not 16 hex digits. */
static int parse(const char *s, double *d)
{
    uint64_t bits = 0;
    int i;
    for (i = 0; i < 16; ++i) {
        const int v = hex_digit((unsigned char)s[i]);
        if (v < 0) return 0;
        bits = (bits << 4) | (uint64_t)v;
    }
    memcpy(d, &bits, sizeof *d);
    return 1;
}

static void show(FILE *out, double d)
{
    static const char digits[] = "0123456789abcdef";
    char text[18];
    uint64_t bits;
    int i;
    memcpy(&bits, &d, sizeof bits);
    text[0] = ' ';
    for (i = 0; i < 16; ++i) text[1 + i] = digits[(bits >> (60 - 4 * i)) & 0xF];
    text[17] = '\0';
    fputs(text, out);
}

/* The update of a "u" line, its results written to out; 0 when the line is malformed. */
static int step(const char *line, FILE *out)
{
#ifdef CTL_PHI_ENTRIES
    unsigned i;
    for (i = 0; i < 2U * CTL_DIM; ++i) {
        const char *field = line + 2 + 17 * i;
        if (field[-1] != ' ' || !parse(field, i < CTL_DIM ? &y[i] : &yd[i - CTL_DIM])) return 0;
    }
    ctl_update(&c, y, yd, u);
    for (i = 0; i < CTL_DIM; ++i) show(out, u[i]);
    for (i = 0; i < CTL_PHI_ENTRIES; ++i) show(out, c.layers[i]);
#else
    double y, yd;
    if (!parse(line + 2, &y) || !parse(line + 19, &yd)) return 0;
    show(out, ctl_update(&c, y, yd));
#ifdef CTL_N
    { int i; for (i = 0; i < c.phi_len; ++i) show(out, c.phi_hat[i]); }
#else
    show(out, c.phi_hat);
#endif
#endif
    fputc('\n', out);
    return 1;
}

int main(void)
{
    static char line[LINE_BYTES];
    FILE *in = fopen("ctl.in", "r");
    FILE *out = fopen("ctl.out", "w");
    if (in == NULL || out == NULL) return 2;
    ctl_init(&c);
    fprintf(out, "%d\n", (int)sizeof c);
    while (fgets(line, sizeof line, in) != NULL) {
        if (line[0] == 'r') {
            ctl_reset(&c);
        } else if (line[0] != 'u' || !step(line, out)) {
            return 3;
        }
    }
    if (fclose(in) != 0 || fclose(out) != 0) return 4;
    return 0;
}
#endif
