"""The type stubs module/zvpy.pyi and module/zvsim.pyi against the built modules: the same names
of the same kinds, the same parameters, and values of the types the stubs promise.

Cython builds the modules without signatures (inspect.signature fails on their functions), so
parameters are compared with the `def` lines of the Cython sources; functions that do have a
signature (zvpy.Error.__init__) are compared with it.
"""
import ast
import inspect
import json
import os
import pathlib
import re
import subprocess
import sys
import types

import numpy
import pytest

import zvpy
import zvsim

REPO = pathlib.Path(__file__).resolve().parents[2]
MODULE_DIR = REPO / "module"
SOURCES = {
    "zvpy": ("zvpy.pyx", "zvpy_device.pxi", "zvpy_stream.pxi", "zvpy_ddevice.pxi",
             "zvpy_recording.pxi", "zvpy_envelope.pxi"),
    "zvsim": ("zvsim.pyx",),
}
MODULES = {"zvpy": zvpy, "zvsim": zvsim}
# Special methods that belong to a class's interface; the rest (pickling refusal, finalizers,
# the comparison slots Python derives from __eq__) are implementation.
INTERFACE_DUNDERS = {"__init__", "__enter__", "__exit__", "__eq__", "__hash__", "__len__"}
# Stub classes that describe a shape for the type checker only (the dicts list_devices returns).
TYPING_ONLY_BASES = {"TypedDict", "Protocol"}


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


# ---- The Cython sources' def lines ----


class Parameter:
    def __init__(self, name, kind, default=inspect.Parameter.empty):
        self.name, self.kind, self.default = name, kind, default

    def __repr__(self):
        return f"{self.name}:{self.kind.name}" + ("" if self.default is NO_DEFAULT else "=")


NO_DEFAULT = inspect.Parameter.empty
UNKNOWN_DEFAULT = object()  # an expression literal_eval cannot read
P = inspect.Parameter


def split_top_level(text):
    parts, depth, current = [], 0, ""
    for char in text:
        if char in "([{":
            depth += 1
        elif char in ")]}":
            depth -= 1
        if char == "," and depth == 0:
            parts.append(current)
            current = ""
        else:
            current += char
    if current.strip():
        parts.append(current)
    return [part.strip() for part in parts if part.strip()]


def parse_parameters(text):
    params, kind = [], P.POSITIONAL_OR_KEYWORD
    for part in split_top_level(text):
        if part == "*":
            kind = P.KEYWORD_ONLY
            continue
        if part == "/":
            for param in params:
                param.kind = P.POSITIONAL_ONLY
            continue
        declaration, _, default_text = part.partition("=")
        name = declaration.split()[-1]  # "Device device" -> "device"
        if name.startswith("**"):
            params.append(Parameter(name[2:], P.VAR_KEYWORD))
            continue
        if name.startswith("*"):
            params.append(Parameter(name[1:], P.VAR_POSITIONAL))
            kind = P.KEYWORD_ONLY
            continue
        default = NO_DEFAULT
        if default_text:
            try:
                default = ast.literal_eval(default_text.strip())
            except ValueError:
                default = UNKNOWN_DEFAULT
        params.append(Parameter(name, kind, default))
    return params


def read_source_defs(module_name):
    """{(class or None, name): (parameters without self, decorators)} from the Cython sources,
    and the names each class gives a property setter."""
    defs, setters = {}, set()
    for file_name in SOURCES[module_name]:
        text = (MODULE_DIR / file_name).read_text()
        current_class, decorators = None, []
        lines = text.splitlines()
        index = 0
        while index < len(lines):
            line = lines[index]
            stripped = line.strip()
            indent = len(line) - len(line.lstrip())
            match = re.match(r"(?:cdef )?class (\w+)", line)
            if match:
                current_class = match.group(1)
            elif stripped and not stripped.startswith("#") and indent == 0 \
                    and not stripped.startswith(("def ", "@")):
                current_class = None
            if stripped.startswith("@"):
                decorators.append(stripped[1:])
            elif stripped.startswith("def ") and indent in (0, 4):
                owner = current_class if indent == 4 else None
                if indent == 0:
                    current_class = None
                # The parameter list may run over several lines: read to its closing bracket.
                source = "\n".join(lines[index:index + 20])
                start = source.index("(") + 1
                depth, end = 1, start
                while depth:
                    depth += {"(": 1, ")": -1}.get(source[end], 0)
                    end += 1
                name = stripped[4:].split("(")[0]
                params = parse_parameters(source[start:end - 1])
                if owner is not None:
                    params = params[1:]  # self
                for decorator in decorators:
                    if decorator.endswith(".setter"):
                        setters.add((owner, decorator[:-len(".setter")]))
                defs.setdefault((owner, name), (params, decorators))
                decorators = []
            elif stripped and not stripped.startswith("#"):
                decorators = []
            index += 1
    return defs, setters


SOURCE_DEFS = {name: read_source_defs(name) for name in MODULES}


def cython_parameters(module_name, class_name, function_name):
    """The parameters as Cython exposes them: a function taking exactly one required argument
    (not a special method) takes it only positionally."""
    params, _ = SOURCE_DEFS[module_name][0][(class_name, function_name)]
    if (len(params) == 1 and params[0].kind == P.POSITIONAL_OR_KEYWORD
            and params[0].default is NO_DEFAULT and not function_name.startswith("__")):
        params = [Parameter(params[0].name, P.POSITIONAL_ONLY)]
    return params


def runtime_parameters(module_name, class_name, function_name, function):
    if isinstance(function, types.WrapperDescriptorType):
        # A special method of an extension type: its signature is the slot's generic one.
        return cython_parameters(module_name, class_name, function_name)
    try:
        signature = inspect.signature(function)
    except (TypeError, ValueError):  # a Cython function without a signature
        return cython_parameters(module_name, class_name, function_name)
    params = [Parameter(p.name, p.kind, p.default) for p in signature.parameters.values()]
    return params[1:] if class_name is not None else params


def stub_parameters(function):
    args = function.args
    params = []
    positional = args.posonlyargs + args.args
    defaults = [NO_DEFAULT] * (len(positional) - len(args.defaults)) + list(args.defaults)
    for index, (arg, default) in enumerate(zip(positional, defaults)):
        kind = P.POSITIONAL_ONLY if index < len(args.posonlyargs) else P.POSITIONAL_OR_KEYWORD
        params.append(Parameter(arg.arg, kind, default))
    if args.vararg:
        params.append(Parameter(args.vararg.arg, P.VAR_POSITIONAL))
    for arg, default in zip(args.kwonlyargs, args.kw_defaults):
        params.append(Parameter(arg.arg, P.KEYWORD_ONLY, NO_DEFAULT if default is None else default))
    if args.kwarg:
        params.append(Parameter(args.kwarg.arg, P.VAR_KEYWORD))
    return params


# ---- The modules at run time ----


def runtime_names(module):
    return {name for name, value in vars(module).items()
            if not name.startswith("_") and not isinstance(value, types.ModuleType)}


def runtime_members(cls):
    members = {name for name in vars(cls)
               if not name.startswith("_") or name in INTERFACE_DUNDERS}
    if issubclass(cls, BaseException):  # attributes every instance sets, unless inherited
        own = set(vars(cls()))
        for base in cls.__bases__:
            own -= set(vars(base()))
        members |= own
    return members


def runtime_kind(value):
    if isinstance(value, property) or inspect.isgetsetdescriptor(value) \
            or inspect.ismemberdescriptor(value):
        return "property"
    return "method" if callable(value) else "attribute"


def stub_runtime_pairs():
    """(module name, class name or None, member name, stub nodes, runtime object)."""
    for module_name, stub in STUBS.items():
        module = MODULES[module_name]
        for name, nodes in stub.functions.items():
            if hasattr(module, name):
                yield module_name, None, name, nodes, getattr(module, name)
        for class_name in stub.classes:
            cls = getattr(module, class_name)
            for name, (kind, nodes) in stub.members(class_name).items():
                if kind == "method" and name in vars(cls):  # (a missing one fails the name test)
                    yield module_name, class_name, name, nodes, vars(cls)[name]


# ---- Names and kinds ----


@pytest.mark.parametrize("module_name", MODULES)
def test_the_stub_and_the_module_have_the_same_names(module_name):
    stub, module = STUBS[module_name], MODULES[module_name]
    declared = set(stub.variables) | set(stub.functions) | set(stub.classes)
    assert runtime_names(module) - declared == set(), "missing from the stub"
    assert {name for name in declared if not hasattr(module, name)} == set(), \
        "in the stub only"
    for name in stub.classes:
        assert inspect.isclass(getattr(module, name)), name
    for name in stub.functions:
        assert callable(getattr(module, name)) and not inspect.isclass(getattr(module, name))
    for name in stub.variables:
        assert not callable(getattr(module, name)), name


@pytest.mark.parametrize("module_name", MODULES)
def test_every_class_has_the_stub_members_and_bases(module_name):
    stub, module = STUBS[module_name], MODULES[module_name]
    for class_name, node in stub.classes.items():
        cls = getattr(module, class_name)
        members = stub.members(class_name)
        assert runtime_members(cls) == set(members), class_name
        for name, (kind, _) in members.items():
            if kind != "attribute":
                assert runtime_kind(vars(cls)[name]) == kind, f"{class_name}.{name}"
        stub_bases = {base_name(b) for b in node.bases} - {"Generic"}
        runtime_bases = {b.__name__ for b in cls.__bases__} - {"object"}
        assert stub_bases == runtime_bases, class_name


@pytest.mark.parametrize("module_name", MODULES)
def test_properties_are_settable_exactly_where_the_stub_says(module_name):
    stub, module = STUBS[module_name], MODULES[module_name]
    _, source_setters = SOURCE_DEFS[module_name]
    for class_name in stub.classes:
        cls = getattr(module, class_name)
        for name, (kind, nodes) in stub.members(class_name).items():
            if kind != "property":
                continue
            descriptor = vars(cls)[name]
            if isinstance(descriptor, property):
                settable = descriptor.fset is not None
            else:  # a Cython property: its setter is declared in the source
                settable = (class_name, name) in source_setters
            assert (len(nodes) == 2) == settable, f"{class_name}.{name}"


def test_constants_have_the_stub_values():
    checked = 0
    for module_name, stub in STUBS.items():
        for name, node in stub.variables.items():
            if node.value is not None:
                assert getattr(MODULES[module_name], name) == ast.literal_eval(node.value), name
                checked += 1
    assert checked >= 9  # the port and calibration-type constants


# ---- Parameters ----


def describe(params):
    return [(p.name, p.kind) for p in params]


PAIRS = list(stub_runtime_pairs())


@pytest.mark.parametrize("module_name,class_name,name,nodes,function", PAIRS,
                         ids=[".".join(filter(None, pair[:3])) for pair in PAIRS])
def test_parameters_match(module_name, class_name, name, nodes, function):
    expected = runtime_parameters(module_name, class_name, name, function)
    for node in nodes:  # every overload takes the same parameters
        params = stub_parameters(node)
        if class_name is not None:
            params = params[1:]  # self
        assert describe(params) == describe(expected)
        for stub_param, runtime_param in zip(params, expected):
            if stub_param.default is not NO_DEFAULT:
                assert runtime_param.default is not NO_DEFAULT, stub_param.name
            elif len(nodes) == 1:  # an overload may narrow a parameter by leaving out its default
                assert runtime_param.default is NO_DEFAULT, stub_param.name
            stub_default = stub_param.default
            if stub_default is NO_DEFAULT or runtime_param.default is UNKNOWN_DEFAULT:
                continue
            if isinstance(stub_default, ast.Constant) and stub_default.value is Ellipsis:
                continue
            assert ast.literal_eval(stub_default) == runtime_param.default, stub_param.name


def instance_for_probing(cls):
    """An instance whose methods' argument parsing can be exercised without a detector."""
    if issubclass(cls, zvpy.Device):
        return cls(open=False)
    return cls.__new__(cls)


def test_positional_only_parameters_refuse_keywords():
    probed = 0
    for module_name, class_name, name, nodes, _ in PAIRS:
        params = stub_parameters(nodes[0])[1 if class_name else 0:]
        positional_only = [p.name for p in params if p.kind == P.POSITIONAL_ONLY]
        if not positional_only or class_name is None:
            continue
        cls = getattr(MODULES[module_name], class_name)
        method = getattr(instance_for_probing(cls), name)
        with pytest.raises(TypeError, match="takes no keyword arguments"):
            method(**{positional_only[0]: 1})
        probed += 1
    assert probed >= 18


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
            if not stub_parameters(nodes[0]) and name != "detach_all":
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
