/* plant_loop.c: the exported MIMO controller closing a loop in C on deploy.py's 2x2 plant,
 * whose second input lowers its output: the controller's input c
 * goes to the plant times SIGNS[c], the channel signs of the saved tuning. Prints k, yd, u
 * (as applied), y, as the Python run does. */
#include <stdio.h>

#include "vorn_mimo.h"

#if VORN_MIMO_DIM != 2
#error "the plant has two inputs and two outputs"
#endif

/* One sample of the plant: the same equations, in the same order, as deploy.py's. */
static void plant_step(double y[2], const double u[2])
{
    const double y1 = 0.6 * y[0] + 0.5 * u[0] + 0.1 * u[1];
    const double y2 = 0.5 * y[1] + 0.15 * u[0] - 0.6 * u[1];
    y[0] = y1;
    y[1] = y2;
}

static void set_point(int k, double yd[2])
{
    yd[0] = (k / 50) % 2 == 0 ? 1.0 : 0.5;
    yd[1] = (k / 75) % 2 == 0 ? 0.8 : 0.4;
}

int main(int argc, char **argv)
{
    static vorn_mimo_t ctl;
    double signs[2];
    double y[2] = {0.0, 0.0};
    int steps = 0, k;
    if (argc != 4 || sscanf(argv[1], "%d", &steps) != 1 || sscanf(argv[2], "%lf", &signs[0]) != 1
        || sscanf(argv[3], "%lf", &signs[1]) != 1) {
        return 2;
    }
    vorn_mimo_init(&ctl);
    for (k = 0; k < steps; ++k) {
        double yd[2], u[2];
        set_point(k, yd);
        vorn_mimo_update(&ctl, y, yd, u);
        u[0] *= signs[0];
        u[1] *= signs[1];
        plant_step(y, u);
        printf("%d %.17g %.17g %.17g %.17g %.17g %.17g\n", k, yd[0], yd[1], u[0], u[1], y[0], y[1]);
    }
    return 0;
}
