#!/usr/bin/env python3
"""The dissector's and the Python binding's protocol tables, compared with the vocabulary.

Usage: check_tables.py VOCAB_DUMP

VOCAB_DUMP prints the vocabulary (lib/vocab), the public header's constants and record layouts
and the library's result codes. This script reads tools/wireshark/zeb.lua as text and the
binding's modules as source (the binding's records as ctypes classes), so that it needs neither
Wireshark nor a library the interpreter can load. Every difference, in number or in name, is
listed, and any makes the exit status 1.
"""
import ast
import ctypes
import importlib.util
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DISSECTOR = os.path.join(ROOT, "tools", "wireshark", "zeb.lua")
BINDING = os.path.join(ROOT, "python", "zeb")

# The dissector's tables of names by number, and the vocabulary table each must equal.
LUA_TABLES = {"functions": "function", "services": "service", "serial_ops": "serial",
              "ccm_markers": "ccm"}
# Its sets of names (`Name = true`), and the vocabulary table whose names they must be.
LUA_NAME_SETS = {"path_first": "service"}
# Its sizes of the records that service calls carry, and the header's record of each.
LUA_RECORD_SIZES = {"FILE_TIME": "ZEBFileTime", "FILE_INFO": "ZEBFileInfo",
                    "FIND_RECORD": "ZEBFindData", "SECURITY_ATTRIBUTES": "ZEBSecurityAttributes",
                    "COMM_STATE": "ZEBCommState", "COMM_TIMEOUTS": "ZEBCommTimeouts",
                    "COMM_STATUS": "ZEBCommStatus", "COMM_PROPERTIES": "ZEBCommProperties"}
# Its numbers, and the vocabulary constant each must equal.
LUA_CONSTANTS = {"PORT": "module_port", "EXTENDED_HEADER": "extended_header",
                 "EXTENDED_FORMAT": "extended_format"}

# The binding's constants: (module, name) and the vocabulary constant or record size.
PY_CONSTANTS = {
    ("_constants", "API_VERSION"): "api_version",
    ("_constants", "MODULE_PORT"): "module_port",
    ("_constants", "RETRIED"): "warn_retried",
    ("_constants", "_WINSOCK"): "transport_winsock",
    ("_constants", "_PROTOCOL_IP"): "protocol_ip",
    ("_constants", "_PROTOCOL_IPX"): "protocol_ipx",
    ("_constants", "_QUERY_BY_NUMBER"): "number_record",
    ("_constants", "_QUERY_BY_NAME"): "name_record",
    ("_constants", "_NAME_QUERY_SIZE"): "name_query_size",
    ("_device", "_DEVICE_DEF_SIZE"): "device_def_size",
    ("_device", "_CONTROLLER_MAX"): "controller_data_max",
    ("_serial", "_PLAIN_WRITE_LIMIT"): "serial_write_room",
    ("_serial", "_PORT_WRITE_LIMIT"): "serial_port_write_room",
    ("_serial", "_READ_CHUNK"): "serial_read_max",
    ("_constants", "_EXTENDED_FORMAT"): "extended_format",
    ("_constants", "BIT_IN"): "point_bit_in",
    ("_constants", "BIT_OUT"): "point_bit_out",
    ("_constants", "WORD_IN"): "point_word_in",
    ("_constants", "WORD_OUT"): "point_word_out",
    ("_constants", "DWORD_IN"): "point_dword_in",
    ("_constants", "DWORD_OUT"): "point_dword_out",
    ("_constants", "_IMAGE_SLOTS"): "image_slots",
    ("_constants", "_IMAGE_VALUE_BYTES"): "image_value_bytes",
}
PY_RECORD_SIZES = {
    ("_files", "_FIND_RECORD"): "ZEBFindData",
    ("_files", "_SECURITY_ATTRIBUTES"): "ZEBSecurityAttributes",
}
# The binding's tables of names by number, and the vocabulary table each must equal.
PY_TABLES = {("_device", "_KIND_NAMES"): "kind"}
# The binding's result names: code -> (name, text), as the library names them.
PY_RESULTS = ("_constants", "_NAMES")
# The binding's records (python/zeb/_records.py) and the header's.
PY_RECORDS = {"Transport": "ZEBTransport", "Device": "ZEBDevice", "FindData": "ZEBFindData",
              "SecurityAttributes": "ZEBSecurityAttributes", "SerialSetup": "ZEBSerialSetup",
              "SlotPoints": "ZEBSlotPoints", "Image": "ZEBImage"}


class Vocabulary:
    def __init__(self, dump):
        self.tables, self.constants, self.results = {}, {}, {}
        self.records, self.fields = {}, {}
        out = subprocess.run([dump], check=True, stdout=subprocess.PIPE).stdout.decode()
        for line in out.splitlines():
            kind, *rest = line.split("\t")
            if kind == "table":
                self.tables.setdefault(rest[0], {})[int(rest[1])] = rest[2]
            elif kind == "constant":
                self.constants[rest[0]] = int(rest[1])
            elif kind == "result":
                self.results[int(rest[0])] = (rest[1], rest[2])
            elif kind == "record":
                self.records[rest[0]] = int(rest[1])
            elif kind == "field":
                self.fields.setdefault(rest[0], []).append((rest[1], int(rest[2]), int(rest[3])))
            else:
                raise ValueError(f"unknown line from {dump}: {line!r}")


problems = []


def differ(where, expected, found):
    """Every number whose name differs, and every number only one side has."""
    for number in sorted(set(expected) | set(found)):
        want, got = expected.get(number), found.get(number)
        if want == got:
            continue
        if got is None:
            problems.append(f"{where}: 0x{number:02X} ({want!r}) is missing")
        elif want is None:
            problems.append(f"{where}: 0x{number:02X} ({got!r}) is no such number")
        else:
            problems.append(f"{where}: 0x{number:02X} is {got!r}, should be {want!r}")


# ---- The dissector ------------------------------------------------------------------------

LUA_TOKEN = re.compile(r"""
    (?P<space>\s+) | (?P<comment>--\[(?P<level>=*)\[.*?\](?P=level)\]|--[^\n]*) |
    (?P<string>"(?:[^"\\\n]|\\.)*"|'(?:[^'\\\n]|\\.)*') |
    (?P<long_string>\[(?P<long_level>=*)\[.*?\](?P=long_level)\]) |
    (?P<number>0[xX][0-9A-Fa-f]+|\d+) |
    (?P<name>[A-Za-z_]\w*) |
    (?P<punct>\.\.\.|\.\.|==|~=|<=|>=|[^\s\w])
""", re.VERBOSE | re.DOTALL)


def lua_tokens(text):
    at = 0
    tokens = []
    while at < len(text):
        m = LUA_TOKEN.match(text, at)
        if not m:
            raise ValueError(f"{DISSECTOR}: cannot read past byte {at}")
        at = m.end()
        if m.lastgroup in ("space", "comment"):
            continue
        kind, value = m.lastgroup, m.group()
        if kind == "string":
            value = ast.literal_eval(value)
        elif kind == "long_string":
            kind, value = "string", m.group("long_string")[len(m.group("long_level")) + 2:
                                                            -len(m.group("long_level")) - 2]
        elif kind == "number":
            value = int(value, 0)
        tokens.append((kind, value))
    return tokens


LUA_OPENS = {"function", "do", "if", "repeat", "{", "("}
LUA_CLOSES = {"end", "until", "}", ")"}


def lua_top_level(tokens):
    """`local NAME = {...}` and `local NAME = number` at the file's top level (outside every
    block, table and call): name -> the table's tokens, or the number."""
    tables, numbers = {}, {}
    depth = 0
    i = 0
    while i < len(tokens):
        if depth == 0 and tokens[i][1] == "local" and i + 3 < len(tokens) \
                and tokens[i + 1][0] == "name" and tokens[i + 2][1] == "=":
            name, first = tokens[i + 1][1], tokens[i + 3]
            if first[1] == "{":
                inner, j = 1, i + 4
                while inner:
                    if tokens[j][0] == "punct":
                        inner += {"{": 1, "}": -1}.get(tokens[j][1], 0)
                    j += 1
                tables[name] = tokens[i + 4: j - 1]
                i = j
                continue
            if first[0] == "number":
                numbers[name] = first[1]
        kind, value = tokens[i]
        if kind in ("name", "punct") and value in LUA_OPENS:
            depth += 1
        elif kind in ("name", "punct") and value in LUA_CLOSES:
            depth -= 1
        i += 1
    return tables, numbers


def lua_entries(where, tokens, key_kind, value_kind):
    """A table's `[key] = value` or `key = value` entries, or None when anything else is in it.
    A key given twice is a problem: only its last value counts."""
    entries = {}
    i = 0
    while i < len(tokens):
        if key_kind == "number":
            part = tokens[i: i + 5]
            if len(part) < 5 or [t[1] for t in part[:1] + part[2:4]] != ["[", "]", "="] \
                    or part[1][0] != "number":
                return None
            key, value = part[1][1], part[4]
            i += 5
        else:
            part = tokens[i: i + 3]
            if len(part) < 3 or part[0][0] != "name" or part[1][1] != "=":
                return None
            key, value = part[0][1], part[2]
            i += 3
        if value[0] != value_kind:
            return None
        if key in entries:
            problems.append(f"{where}: {key!r} is given twice")
        entries[key] = value[1]
        if i < len(tokens) and tokens[i][1] == ",":
            i += 1
    return entries


def check_dissector(vocab):
    with open(DISSECTOR, encoding="utf-8") as f:
        tables, numbers = lua_top_level(lua_tokens(f.read()))
    named = {}
    for name, tokens in tables.items():
        entries = lua_entries(f"zeb.lua {name}", tokens, "number", "string")
        if entries:
            named[name] = entries
    for name, kind in LUA_TABLES.items():
        if name not in named:
            problems.append(f"zeb.lua: no table `{name}` of {kind} names by number")
            continue
        differ(f"zeb.lua {name}", vocab.tables[kind], named.pop(name))
    for name in sorted(named):
        problems.append(f"zeb.lua: table `{name}` names numbers but is not checked here")
    for name, kind in LUA_NAME_SETS.items():
        entries = lua_entries(f"zeb.lua {name}", tables.get(name, []), "name", "name")
        if not entries or set(entries.values()) != {"true"}:
            problems.append(f"zeb.lua: no set `{name}` of {kind} names")
            continue
        known = set(vocab.tables[kind].values())
        for key in sorted(set(entries) - known):
            problems.append(f"zeb.lua {name}: {key} is no {kind} name")
    for name, constant in LUA_CONSTANTS.items():
        want = vocab.constants[constant]
        if numbers.get(name) != want:
            problems.append(f"zeb.lua: {name} is {numbers.get(name)}, should be {want}")
    for name, record in LUA_RECORD_SIZES.items():
        want = vocab.records[record]
        if numbers.get(name) != want:
            problems.append(f"zeb.lua: {name} is {numbers.get(name)}, should be "
                            f"sizeof({record}) = {want}")


# ---- The Python binding -------------------------------------------------------------------

def py_constants(module):
    """The literal values that a module assigns at its top level."""
    path = os.path.join(BINDING, module + ".py")
    with open(path, encoding="utf-8") as f:
        tree = ast.parse(f.read(), path)
    values = {}
    for node in tree.body:
        if not isinstance(node, ast.Assign):
            continue
        for target in node.targets:
            pairs = [(target, node.value)]
            if isinstance(target, ast.Tuple) and isinstance(node.value, ast.Tuple):
                pairs = zip(target.elts, node.value.elts)
            for name, value in pairs:
                if isinstance(name, ast.Name):
                    try:
                        values[name.id] = ast.literal_eval(value)
                    except (ValueError, TypeError, SyntaxError):
                        pass  # not a literal: not a constant this test reads
    return values


def py_records():
    """python/zeb/_records.py on its own: it needs ctypes only, not the library."""
    spec = importlib.util.spec_from_file_location("zeb_records", os.path.join(BINDING,
                                                                              "_records.py"))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def check_binding(vocab):
    modules = {}

    def constant(module, name):
        values = modules.setdefault(module, py_constants(module))
        if name not in values:
            problems.append(f"python/zeb/{module}.py: no constant {name}")
        return values.get(name)

    for (module, name), key in PY_CONSTANTS.items():
        got = constant(module, name)
        if got is not None and got != vocab.constants[key]:
            problems.append(f"python/zeb/{module}.py: {name} is {got}, should be "
                            f"{vocab.constants[key]}")
    for (module, name), record in PY_RECORD_SIZES.items():
        got = constant(module, name)
        if got is not None and got != vocab.records[record]:
            problems.append(f"python/zeb/{module}.py: {name} is {got}, should be "
                            f"sizeof({record}) = {vocab.records[record]}")
    for (module, name), kind in PY_TABLES.items():
        table = constant(module, name)
        if table is not None:
            differ(f"python/zeb/{module}.py {name}", vocab.tables[kind], table)
    names = constant(*PY_RESULTS)
    if names is not None:
        differ(f"python/zeb/{PY_RESULTS[0]}.py {PY_RESULTS[1]}", vocab.results, names)

    try:
        records = py_records()
    except Exception as e:  # its own layout checks fail as it loads
        problems.append(f"python/zeb/_records.py does not load: {e!r}")
        return
    for cls, record in PY_RECORDS.items():
        layout = getattr(records, cls)
        got = [(name, getattr(layout, name).offset, getattr(layout, name).size)
               for name, *_ in layout._fields_]
        want = vocab.fields[record]
        for i in range(max(len(got), len(want))):
            have = got[i] if i < len(got) else None
            should = want[i] if i < len(want) else None
            if have != should:
                problems.append(f"python/zeb/_records.py {cls}: field {i} (name, offset, size) "
                                f"is {have}, should be {should} as in {record}")
        if ctypes.sizeof(layout) != vocab.records[record]:
            problems.append(f"python/zeb/_records.py {cls}: {ctypes.sizeof(layout)} bytes, "
                            f"should be {vocab.records[record]}")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    vocab = Vocabulary(sys.argv[1])
    check_dissector(vocab)
    check_binding(vocab)
    for p in problems:
        print("DIFFERS:", p)
    if problems:
        return 1
    print("the dissector's and the Python binding's tables agree with the vocabulary")
    return 0


if __name__ == "__main__":
    sys.exit(main())
