/* bits_io.h: the target harnesses' text form of a double, its IEEE 754 bits as 16 hex
 * digits: parse reads one, show writes one after a space. */
#ifndef BITS_IO_H
#define BITS_IO_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

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

#endif /* BITS_IO_H */
