"""Entry point of the `zv` command."""
import argparse
import re
import sys

from zvtool.commands import (bench, capture, info, list_devices, monitor, plot, record, repair,
                             scope, setup, show)

COMMANDS = (list_devices, info, capture, record, monitor, scope, show, plot, repair, bench, setup)

DESCRIPTION = """\
Work with HLM25 USB photodetectors: list them, show their identity and calibrations,
capture raw, calibrated or processed samples, record long acquisitions to HDF5 files and
read them back, watch the power in a terminal or the trace and spectrum in a web browser,
measure processing speed, and set up USB permissions."""

EPILOG = """\
Every command takes --simulate to use a simulated HLM25 (no hardware needed).
Run 'zv COMMAND --help' for a command's options and examples.

examples:
  zv list
  zv info
  zv capture 100000 --calibrated --plot trace.png
  zv capture 100000 --simulate --decimate 8 --units mW --out power.npy
  zv record run.h5 --seconds 600
  zv show run.h5
  zv plot run.h5 --out run.png --start 10 --stop 11
  zv monitor --simulate
  zv scope --simulate
  sudo zv setup"""

SIMULATE_HELP = ("attach a simulated HLM25 (a 1 MHz modulated laser with noise and a pulse "
                 "train on port S) and use it")


# A negative number in any notation Python's float() reads: -5, -.5, -1e6, -inf, -nan.
NEGATIVE_NUMBER = re.compile(r"^-(\d+\.?\d*|\.\d+)(e[-+]?\d+)?$|^-(inf|infinity|nan)$",
                             re.IGNORECASE)


class Parser(argparse.ArgumentParser):
    """argparse's parser taking every negative number as a value, not only the ones it knows
    (-5, -.5): "--cutoff -1e6" then reaches the command's range check, which says what the
    option accepts, instead of failing with "expected one argument". The subcommands' parsers
    are made of the same class. No zv option looks like a negative number."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._negative_number_matcher = NEGATIVE_NUMBER


def build_parser():
    formatter = argparse.RawDescriptionHelpFormatter  # keeps the example lines as written
    parser = Parser(prog="zv", description=DESCRIPTION, epilog=EPILOG, formatter_class=formatter)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in COMMANDS:
        sub = commands.add_parser(command.NAME, help=command.HELP,
                                  description=command.HELP[0].upper() + command.HELP[1:] + ".",
                                  epilog=getattr(command, "EXAMPLES", None),
                                  formatter_class=formatter)
        sub.add_argument("--simulate", action="store_true",
                         help=getattr(command, "SIMULATE_HELP", SIMULATE_HELP))
        command.add_arguments(sub)
        sub.set_defaults(run=command.run)
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        return args.run(args) or 0
    except KeyboardInterrupt:
        print("zv: interrupted", file=sys.stderr)
        return 130
    except Exception as error:  # a clear one-line message instead of a traceback
        from zvtool.errors import describe

        print(f"zv: {describe(error)}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
