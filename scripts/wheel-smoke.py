"""The installed wheel's smoke test, run by `scripts/wheel --check` in a fresh environment
from outside the source tree: the package imports from the environment, closes a loop,
reads a configuration file and runs the demo command. Exit status 0 when all of it works."""

import os
import pathlib
import subprocess
import sys
import tempfile

import vorn

where = pathlib.Path(vorn.__file__).resolve()
if "site-packages" not in where.parts:
    sys.exit(f"vorn was imported from {where}, not from the installed wheel")

c = vorn.PFDLController(rho=0.5, lambda_=0.1, mu=0.1, initial_phi=0.3, l_u=4, u_min=-1.5, u_max=1.5)
y = 0.0
for k in range(200):
    u = c.update(y, 0.5 if k < 100 else -0.5)
    y = y / (1 + y * y) + u * u * u
if abs(y + 0.5) > 1e-3:
    sys.exit(f"the closed loop ended at {y!r}, not at its set point -0.5")

with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "pfdl.yaml")
    pathlib.Path(path).write_text("rho: 0.5\nL_u: 4\nu_max: 1.5\n", encoding="utf-8")
    params = vorn.load_config_from_yaml(True, path)
    vorn.PFDLController(*params)
    if params[2] != 0.5 or params[6] != 4 or params[10] != 1.5:
        sys.exit(f"the configuration file read as {params!r}")

command = pathlib.Path(sys.executable).with_name("vorn")
demo = subprocess.run([str(command), "demo"], capture_output=True, text=True, timeout=300)
if demo.returncode != 0:
    sys.exit(f"vorn demo exited with {demo.returncode}:\n{demo.stdout}{demo.stderr}")
print(f"vorn {vorn.__version__} from {where.parent}: closed loop, configuration file and "
      f"`vorn demo` ({len(demo.stdout.splitlines())} lines) all work")
