"""The C records of qapi.h and qmsg.h as ctypes structures.

Field names are the C names, so that the layout test can hold every offset
against the C compiler's.  Pointers are read as unsigned integers of pointer
size (0 for NULL) and dereferenced only by the decoder.  `build` makes the
set for any pointer size: the loaded library uses this interpreter's own, and
the layout test checks 4-byte and 8-byte pointers alike.
"""
import ctypes
from types import SimpleNamespace

LINE_LIST_SLOTS = 33
TEXT_BLOCK = 128  # every line of a call or park list lives in a block of this size


def build(word, signed_word):
    """The records for pointers read as `word` and intptr_t as `signed_word`."""
    c_char, u8, u16, i16, u32, i32 = (ctypes.c_char, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_int16,
                                      ctypes.c_uint32, ctypes.c_int32)

    class QMessage(ctypes.Structure):
        _fields_ = [("window", u32), ("message", u32), ("wParam", word), ("lParam", signed_word)]

    class QapiStatusPayload(ctypes.Structure):
        _fields_ = [("state", i32), ("statusText", word)]

    class QapiStatusSnapshot(ctypes.Structure):
        _fields_ = [("regState", i32), ("statusText", word), ("callState", u8), ("reserved1", u8 * 3),
                    ("eventValue", i32), ("infoValue", i32)] + [
                   (name, u8) for name in (
                       "canNewcall", "canDigits", "isAlerting", "canAnswer", "canClear", "canHold",
                       "canRetrieve", "canCallback", "canSuspend", "canConference", "canTransfer",
                       "canRecordStart", "canRecordStop", "canMailbox", "canPickup",
                       "indicator1", "indicator2", "indicator3")] + [
                   ("reserved2", u8 * 2), ("stationId", i32), ("regValues", i32 * 4), ("regShort", i16),
                   ("reserved3", u8 * 2)]

    class QapiLineList(ctypes.Structure):
        _fields_ = [("lines", word * LINE_LIST_SLOTS)]

    class QapiExtensionStatus(ctypes.Structure):
        _fields_ = [("extension", i32), ("status", i32)]

    class QapiCmdrDialTexts(ctypes.Structure):
        _fields_ = [("textA", c_char * 32), ("textB", c_char * 32), ("textC", c_char * 32)]

    class QapiCmdrTexts(ctypes.Union):
        _fields_ = [("dial", QapiCmdrDialTexts), ("text", c_char * 96)]

    class QapiCmdrRecordPayload(ctypes.Structure):
        _fields_ = [("kindLetter", u8), ("reserved1", u8), ("second", u16), ("minute", u16), ("hour", u16),
                    ("day", u16), ("month", u16), ("year", u16), ("reserved2", u16), ("duration", u32),
                    ("numberA", i32), ("numberB", i32), ("numberC", i32), ("texts", QapiCmdrTexts),
                    ("wordA", u32), ("wordB", u32), ("valueA", u32), ("valueB", u32),
                    ("addressText", c_char * 48), ("numberD", u32), ("reserved3", u8 * 16),
                    ("serverAddressText", c_char * 48)]

    class QapiRouteRequestPayload(ctypes.Structure):
        _fields_ = [("handle", u32), ("second", u16), ("minute", u16), ("hour", u16), ("day", u16),
                    ("month", u16), ("year", u16), ("numberB", i32), ("numberA", i32),
                    ("textA", c_char * 32), ("textB", c_char * 32)]

    return SimpleNamespace(QMessage=QMessage, QapiStatusPayload=QapiStatusPayload,
                           QapiStatusSnapshot=QapiStatusSnapshot, QapiLineList=QapiLineList,
                           QapiExtensionStatus=QapiExtensionStatus, QapiCmdrRecordPayload=QapiCmdrRecordPayload,
                           QapiRouteRequestPayload=QapiRouteRequestPayload)


# The records as this interpreter's library lays them out.
native = build(ctypes.c_size_t, ctypes.c_ssize_t)
