"""Checks libzv.so's dynamic symbols against its public headers.

Fails on a symbol the headers do not declare (an internal one leaking out), on a function libzv.h
declares that the library does not export, and on one the C program every_function leaves out.

Usage: check_exports.py LIBZV_SO EVERY_FUNCTION_EXE SOURCE_ROOT
"""
import pathlib
import re
import subprocess
import sys

# The C++ classes of stream/zv_stream.h whose type information is exported.
STREAM_CLASSES = re.compile(r"^(ZVGenericStream|ZVStream<(float|double)>|ZVStreamSupply<(float|double)>)$")


def dynamic_symbols(path, *options):
    out = subprocess.run(["nm", "-D", "-C", *options, path], check=True, capture_output=True,
                         text=True).stdout
    return {line.split(None, 2)[-1] for line in out.splitlines() if line.strip()}


def declared_functions(header):
    return set(re.findall(r"\bZV_API\s[^;(]*?\b(zv_\w+)\s*\(", header.read_text()))


def simulator_names(header):
    """Names the simulator header declares: functions and members of namespace zvsim."""
    return set(re.findall(r"\b([a-z_][a-z_0-9]*)\s*\(", header.read_text()))


def unexpected(symbol, functions, simulator):
    if symbol in functions:
        return False
    match = re.match(r"^(typeinfo for|typeinfo name for|vtable for) (.*)$", symbol)
    if match:
        return not STREAM_CLASSES.match(match.group(2))
    match = re.match(r"^zvsim::(?:SimulatedDetector::)?(~?\w+)(?:\[abi:cxx11\])?\(", symbol)
    if match:
        name = match.group(1).lstrip("~")
        return name not in simulator and name != "SimulatedDetector"
    return True


def main():
    library, program, root = sys.argv[1:4]
    root = pathlib.Path(root)
    functions = declared_functions(root / "libzv" / "libzv.h")
    simulator = simulator_names(root / "sim" / "simulator.h")
    exported = dynamic_symbols(library, "--defined-only")
    problems = []

    for symbol in sorted(exported):
        if unexpected(symbol, functions, simulator):
            problems.append(f"exported but not part of the public interface: {symbol}")
    for name in sorted(functions - exported):
        problems.append(f"declared in libzv.h but not exported: {name}")
    called = dynamic_symbols(program, "--undefined-only")
    for name in sorted(functions - called):
        problems.append(f"every_function.c does not call {name}")

    for problem in problems:
        print(problem)
    print(f"{len(exported)} exported symbols, {len(functions)} functions declared in libzv.h")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
