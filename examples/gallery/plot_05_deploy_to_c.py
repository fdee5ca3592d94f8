"""
Deploying to C
==============

A controller exported as C99 computes the same doubles as the Python one. The example
exports a PFDL controller, compiles a loop around it with the system's C compiler (skipped
where there is none) and compares both loops bit for bit.
"""

import os
import shutil
import subprocess
import tempfile

import vorn

controller = vorn.PFDLController(rho=0.6, lambda_=0.5, u_min=-2.0, u_max=2.0)
steps = 50

# The C code starts from the state the controller has when it is exported.
out = tempfile.mkdtemp()
vorn.export_c(controller, out, name="pump")
print(sorted(os.listdir(out)))
with open(os.path.join(out, "pump.h"), encoding="utf-8") as header:
    print("".join(header.readlines()[:12]))

python_inputs = []
y = 0.0
for k in range(steps):
    u = controller.update(y, 1.0)
    python_inputs.append(u)
    y = 0.8 * y + 0.3 * u


loop = r"""
#include <stdio.h>
#include "pump.h"
int main(void) {
    pump_t c; double y = 0.0;
    pump_init(&c);
    for (int k = 0; k < %d; ++k) {
        double u = pump_update(&c, y, 1.0);
        printf("%%a\n", u);
        y = 0.8 * y + 0.3 * u;
    }
    return 0;
}
""" % steps
cc = shutil.which("cc") or shutil.which("gcc")
if cc is None:
    print("no C compiler here: the loop is not compiled")
else:
    with open(os.path.join(out, "loop.c"), "w", encoding="utf-8") as f:
        f.write(loop)
    exe = os.path.join(out, "loop")
    subprocess.run([cc, "-std=c99", "-O2", "-ffp-contract=off", "-o", exe,
                    os.path.join(out, "loop.c"), os.path.join(out, "pump.c"), "-lm"], check=True)
    c_inputs = [float.fromhex(line) for line in subprocess.run([exe], capture_output=True, text=True, check=True).stdout.split()]
    same = sum(a == b for a, b in zip(python_inputs, c_inputs))
    print(f"{same} of {steps} inputs agree to the last bit")
shutil.rmtree(out)
