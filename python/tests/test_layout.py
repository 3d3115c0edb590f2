"""The ctypes records against the C compiler's own layout of qapi.h, for
4-byte and 8-byte pointers: every field's offset and every record's size is
a static assertion in a C file compiled with -m32 and -m64."""
import ctypes
import os
import shutil
import subprocess
import tempfile

import pytest

from qapi import _layout

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
# qapi.h, and the version header that a build generates beside it.
INCLUDES = [os.path.join(SOURCE, "include"),
            os.environ.get("QAPI_GENERATED_INCLUDE", os.path.join(SOURCE, "build", "plain", "include"))]
WORDS = {"-m32": (ctypes.c_uint32, ctypes.c_int32), "-m64": (ctypes.c_uint64, ctypes.c_int64)}


def fields(record, path="", base=0):
    """(member designator, offset) of every field, nested ones included."""
    for name, kind in record._fields_:
        offset = base + getattr(record, name).offset
        yield path + name, offset
        if issubclass(kind, (ctypes.Structure, ctypes.Union)):
            yield from fields(kind, path + name + ".", offset)


def assertions(records):
    lines = ['#include <stddef.h>', '#include "qapi.h"']
    for name, record in vars(records).items():
        lines.append(f'_Static_assert(sizeof({name}) == {ctypes.sizeof(record)}, "size of {name}");')
        for member, offset in fields(record):
            lines.append(f'_Static_assert(offsetof({name}, {member}) == {offset}, "{name}.{member}");')
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("flag", sorted(WORDS))
def test_records_match_the_c_layout(flag):
    compiler = shutil.which("cc") or shutil.which("gcc")
    if not compiler:
        pytest.skip("no C compiler")
    with tempfile.NamedTemporaryFile("w", suffix=".c") as source:
        source.write(assertions(_layout.build(*WORDS[flag])))
        source.flush()
        include = [option for path in INCLUDES for option in ("-I", path)]
        built = subprocess.run([compiler, flag, "-std=c11", "-fsyntax-only", *include, source.name],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert built.returncode == 0, built.stdout


def test_the_native_records_are_the_pointer_size_ones():
    pointer = ctypes.sizeof(ctypes.c_void_p)
    expected = _layout.build(*WORDS["-m64" if pointer == 8 else "-m32"])
    for name, record in vars(_layout.native).items():
        assert list(fields(record)) == list(fields(getattr(expected, name))), name
