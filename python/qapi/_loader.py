"""Finding and loading libqapi, and the prototypes of its functions."""
import ctypes
import ctypes.util
import os

from ._layout import native
from .errors import LibraryNotFoundError

_VOID, _INT = None, ctypes.c_int
_HANDLE, _TEXT = ctypes.c_void_p, ctypes.c_char_p
_U32, _I32 = ctypes.c_uint32, ctypes.c_int32

# name: (result, argument types)
PROTOTYPES = {
    "QAPI_Stack_initialize": (_INT, [_U32]),
    "QAPI_Stack_release": (_VOID, []),
    "QAPI_Client_start": (_HANDLE, [_U32, _I32]),
    "QAPI_Client_start_Thread": (_HANDLE, [_U32, _I32]),
    "QAPI_Client_stop": (_INT, [_HANDLE]),
    "QAPI_Client_newcall": (_INT, [_HANDLE, _TEXT]),
    "QAPI_Client_digits": (_INT, [_HANDLE, _TEXT]),
    **{f"QAPI_Client_{key}": (_INT, [_HANDLE]) for key in (
        "answer", "clear", "hold", "retrieve", "callb", "suspend", "conference", "transfer",
        "record_start", "record_stop", "mailbox")},
    "QAPI_Client_transfer_undo": (_INT, [_HANDLE, _TEXT]),
    "QAPI_Client_deflect": (_INT, [_HANDLE, _TEXT]),
    "QAPI_Client_bdp_register": (_INT, [_HANDLE, _I32, _I32]),
    "QAPI_Client_bdp_answer": (_INT, [_HANDLE, _I32]),
    "QAPI_Client_bdp_intrude": (_INT, [_HANDLE, _I32]),
    "QAPI_Client_resume": (_INT, [_HANDLE, _I32]),
    "QAPI_Cmdr_start": (_HANDLE, [_U32, _TEXT, _U32]),
    "QAPI_Cmdr_stop": (_INT, [_HANDLE]),
    "QAPI_Adjunct_start": (_HANDLE, [_U32, _TEXT, _U32]),
    "QAPI_Adjunct_stop": (_INT, [_HANDLE]),
    "QAPI_Adjunct_response": (_INT, [_HANDLE, _U32, _TEXT, _I32]),
    "qmsgCreateWindow": (_U32, []),
    "qmsgDestroyWindow": (_VOID, [_U32]),
    "qmsgCurrentThreadId": (_U32, []),
    "qmsgGetMessage": (_INT, [ctypes.POINTER(native.QMessage), _INT]),
    "qmsgPeekMessage": (_INT, [ctypes.POINTER(native.QMessage)]),
    "qmsgQueueFd": (_INT, []),
}

ENVIRONMENT = "QAPI_LIBRARY"
# This source tree's own build, when the package runs from it.
_BUILD_TREE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                           "build", "plain", "libqapi.so")


def candidates(path=None):
    """Where to look, in order: `path`, $QAPI_LIBRARY, the source tree's
    build/plain/libqapi.so, then the system's library path."""
    if path:
        return [path]
    if os.environ.get(ENVIRONMENT):
        return [os.environ[ENVIRONMENT]]
    found = []
    if os.path.exists(_BUILD_TREE):
        found.append(os.path.normpath(_BUILD_TREE))
    system = ctypes.util.find_library("qapi")
    found += [name for name in (system, "libqapi.so.0", "libqapi.so") if name and name not in found]
    return found


def load(path=None):
    """Loads libqapi (see `candidates`) and declares its functions."""
    tried = []
    for name in candidates(path):
        try:
            lib = ctypes.CDLL(name)
        except OSError as e:
            tried.append(f"{name} ({e})")
            continue
        for function, (result, arguments) in PROTOTYPES.items():
            try:
                entry = getattr(lib, function)
            except AttributeError:
                raise LibraryNotFoundError(f"{name} is not libqapi, or too old: it lacks {function}") from None
            entry.restype, entry.argtypes = result, arguments
        return lib
    raise LibraryNotFoundError("libqapi not loaded; tried: " + "; ".join(tried))
