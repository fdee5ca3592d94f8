/* plant_loop.c: the exported controller closing a loop in C on the dead-time plant
 * y(k+1) = 0.8 y(k) + 0.4 u(k-3), the same plant as vorn.plants.DeadTimePlant, printing
 * k, yd, u, y as the Python run of deploy.py does. */
#include <stdio.h>

#include "vorn_ctrl.h"

#define DELAY 3

typedef struct {
    double y;
    double pending[DELAY]; /* u(k-3), u(k-2), u(k-1): oldest first */
} plant_t;

static double plant_step(plant_t *p, double u)
{
    const double a = 0.8;
    const double gain = 2.0;
    const double delayed = p->pending[0];
    int i;
    for (i = 0; i + 1 < DELAY; ++i) p->pending[i] = p->pending[i + 1];
    p->pending[DELAY - 1] = u;
    p->y = a * p->y + (1.0 - a) * gain * delayed;
    return p->y;
}

static double set_point(int k) { return (k / 20) % 2 == 0 ? 1.0 : 2.0; }

int main(int argc, char **argv)
{
    static vorn_ctrl_t ctl;
    plant_t plant = {0.0, {0.0, 0.0, 0.0}};
    double y = 0.0;
    int steps = 0, k;
    if (argc != 2 || sscanf(argv[1], "%d", &steps) != 1) return 2;
    vorn_ctrl_init(&ctl);
    for (k = 0; k < steps; ++k) {
        const double yd = set_point(k);
        const double u = vorn_ctrl_update(&ctl, y, yd);
        y = plant_step(&plant, u);
        printf("%d %.17g %.17g %.17g\n", k, yd, u, y);
    }
    return 0;
}
