"""The type stubs module/zvpy.pyi and module/zvsim.pyi against the built modules.

mypy's stubtest compares names, kinds, bases, signatures and constants (the modules are compiled
with Cython's binding directive, so their functions carry signatures); the tests here add what it
cannot see: values of the promised types, properties settable exactly where the stubs say, and
parameters that refuse keywords.
"""
import ast
import json
import os
import pathlib
import subprocess
import sys

import numpy
import pytest

import zvpy
import zvsim

REPO = pathlib.Path(__file__).resolve().parents[2]
MODULE_DIR = REPO / "module"
MODULES = {"zvpy": zvpy, "zvsim": zvsim}
# Stub classes that describe a shape for the type checker only (the dicts list_devices returns).
TYPING_ONLY_BASES = {"TypedDict", "Protocol"}
# What Cython 0.29 shows of a method of an extension type differs from the method's behaviour in
# two ways that stubtest would report: it gives no defaults (__defaults__ is None; the defaults
# live in the C argument parsing) and no positional-only parameters (a method of one argument
# refuses keywords all the same, see test_positional_only_parameters_refuse_keywords).
CYTHON_SIGNATURE_LIMITS = (
    "has a default value but runtime argument does not",
    "should be positional or keyword (remove leading double underscore)",
)


# ---- The stubs, read with ast ----


class Stub:
    """One .pyi file: its module-level names and, per class, its members."""

    def __init__(self, name):
        self.tree = ast.parse((MODULE_DIR / f"{name}.pyi").read_text())
        self.aliases = {}  # stub-only names: type aliases and type variables
        self.variables = {}  # name -> AnnAssign
        self.functions = {}  # name -> [FunctionDef, ...] (several for overloads)
        self.classes = {}  # name -> ClassDef
        self.typed_dicts = {}  # name -> {key: annotation}
        for node in self.tree.body:
            if isinstance(node, ast.Assign):
                for target in node.targets:
                    self.aliases[target.id] = node.value
            elif isinstance(node, ast.AnnAssign):
                self.variables[node.target.id] = node
            elif isinstance(node, ast.FunctionDef):
                self.functions.setdefault(node.name, []).append(node)
            elif isinstance(node, ast.ClassDef):
                if {base_name(b) for b in node.bases} & TYPING_ONLY_BASES:
                    self.typed_dicts[node.name] = {
                        item.target.id: item.annotation
                        for item in node.body if isinstance(item, ast.AnnAssign)}
                else:
                    self.classes[node.name] = node

    def members(self, class_name):
        """name -> (kind, nodes): kind "method", "property" or "attribute"."""
        out = {}
        for node in self.classes[class_name].body:
            if isinstance(node, ast.AnnAssign):
                out[node.target.id] = ("attribute", [node])
            elif isinstance(node, ast.FunctionDef):
                decorators = {ast.unparse(d) for d in node.decorator_list}
                if "property" in decorators:
                    out[node.name] = ("property", [node])
                elif f"{node.name}.setter" in decorators:
                    out[node.name][1].append(node)
                else:
                    out.setdefault(node.name, ("method", []))[1].append(node)
        return out


def base_name(node):
    node = node.value if isinstance(node, ast.Subscript) else node
    return node.attr if isinstance(node, ast.Attribute) else node.id


STUBS = {name: Stub(name) for name in MODULES}


# ---- The stubs against the modules ----


def test_stubtest_finds_the_stubs_and_the_modules_agree(tmp_path):
    pytest.importorskip("mypy", reason="mypy (Debian package python3-mypy) is not installed")
    env = dict(os.environ, MYPYPATH=str(MODULE_DIR))
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "--concise", "--allowlist", str(MODULE_DIR / "stubtest_allowlist.txt"), *MODULES],
        capture_output=True, text=True, env=env, cwd=tmp_path)
    differences = [line for line in result.stdout.splitlines()
                   if line.strip() and not any(limit in line for limit in CYTHON_SIGNATURE_LIMITS)]
    assert differences == [], result.stdout + result.stderr
    assert result.returncode in (0, 1), result.stderr


# How the interpreter refuses to set a read-only attribute: a Cython property, a property().
READ_ONLY_MESSAGES = ("is not writable", "has no setter", "can't set attribute")


def probe_instance(cls):
    """An instance whose methods and properties can be exercised without a detector: its calls
    fail with the library's or the binding's errors, not in argument parsing."""
    if issubclass(cls, zvpy.Device):
        return cls(open=False)
    return cls.__new__(cls)


def stub_classes_and_instances():
    for module_name, stub in STUBS.items():
        for class_name in stub.classes:
            runtime_name = class_name
            if not hasattr(MODULES[module_name], class_name):
                # A private base the module does not publish: probed through a class built on it.
                runtime_name = next(name for name, node in stub.classes.items()
                                    if class_name in {base_name(b) for b in node.bases})
            cls = getattr(MODULES[module_name], runtime_name)
            if not issubclass(cls, BaseException):
                yield stub, class_name, probe_instance(cls)


def test_properties_are_settable_exactly_where_the_stub_says():
    checked = 0
    for stub, class_name, instance in stub_classes_and_instances():
        for name, (kind, nodes) in stub.members(class_name).items():
            if kind != "property":
                continue
            try:
                setattr(instance, name, None)
                settable = True
            except AttributeError as error:  # "not writable", "has no setter"
                settable = not any(text in str(error) for text in READ_ONLY_MESSAGES)
            except Exception:  # the setter ran and refused the value or the closed object
                settable = True
            assert (len(nodes) == 2) == settable, f"{class_name}.{name}"
            checked += 1
    assert checked >= 30


def test_positional_only_parameters_refuse_keywords():
    probed = 0
    for stub, class_name, instance in stub_classes_and_instances():
        for name, (kind, nodes) in stub.members(class_name).items():
            if kind != "method":
                continue
            arguments = nodes[0].args.posonlyargs[1:]  # after self
            if not arguments:
                continue
            with pytest.raises(TypeError, match="takes no keyword arguments"):
                getattr(instance, name)(**{arguments[0].arg: 1})
            probed += 1
    assert probed >= 18


def test_constants_have_the_stub_values():
    checked = 0
    for module_name, stub in STUBS.items():
        for name, node in stub.variables.items():
            if node.value is not None:
                assert getattr(MODULES[module_name], name) == ast.literal_eval(node.value), name
                checked += 1
    assert checked >= 9  # the port and calibration-type constants


# ---- Values of the promised types ----


class Types:
    """Whether a value is of a stub annotation, resolving the stub's aliases."""

    BUILTINS = {"int": int, "float": (int, float), "str": str, "bool": bool, "bytes": bytes,
                "object": object}

    def __init__(self, stub, type_variables=None):
        self.stub = stub
        self.type_variables = type_variables or {}

    def numpy_type(self, node):
        if isinstance(node, ast.Name) and node.id in self.type_variables:
            return self.type_variables[node.id]
        assert isinstance(node, ast.Attribute) and node.value.id == "numpy", ast.unparse(node)
        return getattr(numpy, node.attr)

    def check(self, value, node):
        text = ast.unparse(node)
        if isinstance(node, ast.Constant):
            return value is node.value
        if isinstance(node, ast.BinOp):
            return self.check(value, node.left) or self.check(value, node.right)
        if isinstance(node, ast.Name):
            if node.id in self.stub.aliases:
                return self.check(value, self.stub.aliases[node.id])
            if node.id in self.stub.typed_dicts:
                fields = self.stub.typed_dicts[node.id]
                return (isinstance(value, dict) and set(value) == set(fields)
                        and all(self.check(value[k], a) for k, a in fields.items()))
            if node.id == "Any":
                return True
            if node.id in self.stub.classes:
                return type(value).__name__ == node.id
            return isinstance(value, self.BUILTINS[node.id])
        assert isinstance(node, ast.Subscript), text
        base = base_name(node.value)
        args = node.slice.elts if isinstance(node.slice, ast.Tuple) else [node.slice]
        if base == "Literal":
            return any(type(value) is type(a.value) and value == a.value for a in args)
        if base == "tuple":
            return (isinstance(value, tuple) and len(value) == len(args)
                    and all(self.check(v, a) for v, a in zip(value, args)))
        if base == "list":
            return isinstance(value, list) and all(self.check(v, args[0]) for v in value)
        if base == "dict":
            return isinstance(value, dict) and all(
                self.check(k, args[0]) and self.check(v, args[1]) for k, v in value.items())
        if base == "NDArray":
            return (isinstance(value, numpy.ndarray) and value.ndim == 1
                    and value.dtype == numpy.dtype(self.numpy_type(args[0])))
        if base == "dtype":
            return isinstance(value, numpy.dtype) and value == numpy.dtype(
                self.numpy_type(args[0]))
        raise AssertionError(f"no check for the annotation {text}")


def returns(stub, class_name, name):
    """The return annotation of a method or property getter (of the first overload)."""
    if class_name is None:
        return stub.functions[name][0].returns
    return stub.members(class_name)[name][1][0].returns


@pytest.fixture
def detector(attach):
    """A simulated detector whose port S goes high and low every 64 samples."""
    index = numpy.arange(4096)
    return attach(samples=(index & 0x3FFF) | ((index // 64) % 2) << 14)


def test_module_values_have_the_stub_types(detector):
    for module_name, stub in STUBS.items():
        module = MODULES[module_name]
        types_ = Types(stub)
        for name, node in stub.variables.items():
            if not (isinstance(node.annotation, ast.Name) and node.annotation.id == "Final"):
                assert types_.check(getattr(module, name), node.annotation), name
        for name, nodes in stub.functions.items():
            arguments = nodes[0].args
            if not (arguments.posonlyargs or arguments.args) and name != "detach_all":
                value = getattr(module, name)()
                assert types_.check(value, returns(stub, None, name)), name
    assert zvpy.list_devices() and zvsim.devices()  # so their entries were checked


def check_getters(obj, class_name, stub, type_variables=None):
    """Reads every property and read_ method of obj and checks it against its stub type."""
    types_ = Types(stub, type_variables)
    checked = 0
    for name, (kind, nodes) in stub.members(class_name).items():
        getter = kind == "property" or (kind == "method" and name.startswith("read_"))
        if not getter or name in ("device",):
            continue
        value = getattr(obj, name)
        if kind == "method":
            value = value()
        assert types_.check(value, returns(stub, class_name, name)), f"{name} = {value!r}"
        checked += 1
    return checked


def test_device_values_have_the_stub_types(detector):
    stub = STUBS["zvpy"]
    types_ = Types(stub)
    with zvpy._DDevice() as device:
        assert check_getters(device, "Device", stub) >= 15
        samples = {
            ("isopen", ()): device.isopen(),
            ("get_raw_data", (16,)): device.get_raw_data(16),
            ("get_raw_data", (8, False, "rising", "S", 4)): device.get_raw_data(
                8, False, "rising", "S", 4),
            ("get_calibrated_data", (16,)): device.get_calibrated_data(16),
            ("get_calibration", ()): device.get_calibration(),
            ("get_rel_calibration", (1300,)): device.get_rel_calibration(1300),
            ("get_rel_responsivity", (1300,)): device.get_rel_responsivity(1300),
            ("port_read", ("S",)): device.port_read("S"),
        }
        for (name, _), value in samples.items():
            assert types_.check(value, returns(stub, "Device", name)), name
        assert types_.check(device.in_request(0x30, length=72),
                            returns(stub, "_DDevice", "in_request"))
        for dtype, element in ((None, numpy.float64), ("float32", numpy.float32)):
            with device.open_stream(dtype) as stream:
                env = {"_F": element}
                assert check_getters(stream, "Stream", stub, env) >= 16
                assert Types(stub, env).check(stream.acquire(8), returns(stub, "Stream", "acquire"))
                assert Types(stub, env).check(stream.simulate(8),
                                              returns(stub, "Stream", "simulate"))
                assert isinstance(stream.device, zvpy.Device)


def test_simulator_values_have_the_stub_types(detector):
    with zvpy.Device() as device:
        device.port_drive("A", True)
        device.get_raw_data(10)  # fills the request log and the counters
    assert check_getters(detector, "SimDevice", STUBS["zvsim"]) >= 14
    error = zvpy.Error()
    for name in ("err", "errstr"):
        annotation = STUBS["zvpy"].members("Error")[name][1][0].annotation
        assert Types(STUBS["zvpy"]).check(getattr(error, name), annotation)


# ---- Installation and use ----


def test_the_stubs_are_installed_beside_the_extensions(build_dir):
    """Each stub lands next to its extension module, and as the stub-only package mypy reads."""
    plan = json.loads((build_dir / "meson-info" / "intro-install_plan.json").read_text())
    destinations = {pathlib.PurePosixPath(entry["destination"])
                    for group in plan.values() for entry in group.values()}
    for name in MODULES:
        extension = [d for d in destinations if d.name.startswith(f"{name}.cpython-")]
        assert len(extension) == 1, name
        assert extension[0].parent / f"{name}.pyi" in destinations
        assert extension[0].parent / f"{name}-stubs" / "__init__.pyi" in destinations


def test_examples_type_check_against_the_stubs(tmp_path):
    """mypy reads the stubs and finds the examples' use of the API correct; it also catches a
    stub that does not parse or refers to a name it does not define."""
    pytest.importorskip("mypy", reason="mypy (Debian package python3-mypy) is not installed")
    checked = sorted(str(p) for p in (REPO / "examples").glob("*.py"))
    assert checked
    env = dict(os.environ, MYPYPATH=os.pathsep.join((str(MODULE_DIR), str(REPO))))
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--check-untyped-defs", "--follow-imports=silent",
         "--no-error-summary",
         "--cache-dir", str(tmp_path / "cache"), str(MODULE_DIR / "zvpy.pyi"),
         str(MODULE_DIR / "zvsim.pyi"), *checked],
        capture_output=True, text=True, env=env, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
