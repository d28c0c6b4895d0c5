"""Entry point of the `zv` command."""
import argparse
import sys

from zvtool.commands import bench, capture, info, list_devices, setup

COMMANDS = (list_devices, info, capture, bench, setup)


def build_parser():
    parser = argparse.ArgumentParser(
        prog="zv",
        description="Work with HLM25 USB photodetectors: list them, show their identity and "
        "calibrations, capture raw, calibrated or processed samples, measure processing speed, "
        "and set up USB permissions.",
        epilog="Every command takes --simulate to use a simulated HLM25 (no hardware needed). "
        "Run 'zv COMMAND --help' for a command's options.",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for command in COMMANDS:
        sub = commands.add_parser(command.NAME, help=command.HELP, description=command.HELP)
        sub.add_argument(
            "--simulate",
            action="store_true",
            help="attach a simulated HLM25 (a modulated laser with noise and a pulse train on "
            "port S) and use it",
        )
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
