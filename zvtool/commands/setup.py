"""zv setup: install the udev rule that lets users open HLM25 detectors."""
import os
import pathlib
import shutil
import subprocess
import sys

NAME = "setup"
HELP = "show and install the udev rule giving users access to HLM25 detectors"
SIMULATE_HELP = "accepted for uniformity; setup touches no detector"
EXAMPLES = """\
On Linux a USB device belongs to root unless a udev rule says otherwise. The rule
60-zv-hlm25.rules gives every local user read and write access (MODE 0666) to HLM25
detectors only. Run as root, setup installs it and asks udev to apply it; then replug.

examples:
  zv setup                                 show the rule and ask before installing it
  sudo zv setup --yes                      install without asking
  zv setup --yes --rules-dir /tmp/rules    write the rule elsewhere (to copy it by hand)"""

RULE_NAME = "60-zv-hlm25.rules"
RULES_DIR = pathlib.Path("/etc/udev/rules.d")


def add_arguments(parser):
    parser.add_argument("--yes", action="store_true", help="install without asking")
    parser.add_argument("--rules-dir", type=pathlib.Path, default=RULES_DIR, metavar="DIR",
                        help="where to install the rule (default %(default)s)")


def rule_file():
    """The rule shipped with the package (installed) or kept in the source tree."""
    here = pathlib.Path(__file__).resolve().parent.parent
    for candidate in (here / "data" / RULE_NAME, here.parent / "udev" / RULE_NAME):
        if candidate.exists():
            return candidate
    raise FileNotFoundError(f"the udev rule {RULE_NAME} is missing from this installation")


def run(args):
    source = rule_file()
    target = args.rules_dir / RULE_NAME
    print(f"udev rule {source}:\n")
    print(source.read_text())
    if target.exists() and target.read_text() == source.read_text():
        print(f"{target} is installed and up to date.")
        return 0
    if not args.yes:
        if not sys.stdin.isatty():
            print("not installing: run 'zv setup --yes' (as root) to install without a question")
            return 1
        answer = input(f"Install it as {target}? [y/N] ").strip().lower()
        if answer not in ("y", "yes"):
            print("not installed")
            return 1
    try:
        args.rules_dir.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
    except PermissionError:
        print(f"zv: permission denied writing {target}: run 'sudo zv setup'", file=sys.stderr)
        return 1
    print(f"installed {target}")
    if args.rules_dir == RULES_DIR and shutil.which("udevadm") and os.geteuid() == 0:
        for command in (["udevadm", "control", "--reload-rules"],
                        ["udevadm", "trigger", "--subsystem-match=usb"]):
            if subprocess.call(command) != 0:
                print(f"zv: '{' '.join(command)}' failed; reboot or rerun it by hand",
                      file=sys.stderr)
    print("Next: unplug and replug the detector, then run 'zv list'.")
    return 0
