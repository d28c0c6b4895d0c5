"""zv repair: make a recording left unclosed by a killed writer readable by every HDF5 tool."""
from zvtool import recordings

NAME = "repair"
HELP = "make a recording whose program was killed readable by every HDF5 tool"
SIMULATE_HELP = recordings.SIMULATE_HELP
EXAMPLES = recordings.UNCLOSED_ADVICE + """

A recording that was closed is left as it is; one that is being written is refused (stop the
recording first).

examples:
  zv repair run.h5"""


def add_arguments(parser):
    recordings.add_file_argument(parser)


def run(args):
    import zvpy

    with recordings.open_recording(args.file) as recording:
        state = recording.state
    if state == "closed":
        print(f"{args.file} was closed by its writer: nothing to repair")
        return 0
    zvpy.repair_recording(args.file)
    with recordings.open_recording(args.file) as recording:
        print(f"repaired {args.file}: {len(recording)} samples, readable by every HDF5 tool")
    return 0
