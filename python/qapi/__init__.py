"""QapiDll from Python: stations, call-record feeds and routing links.

    import qapi

    with qapi.initialize(5001):                      # on this thread, for good
        station = qapi.Station(17)
        for note in qapi.notifications(timeout=30):  # or: async for ... in qapi.async_notifications()
            if isinstance(note, qapi.Snapshot) and note.is_alerting:
                station.answer()

The library is $QAPI_LIBRARY when set, else build/plain/libqapi.so of the
source tree this package lies in, else libqapi from the system's library path
(libqapi.so.0 or libqapi.so).
"""
from .errors import (BadHandleError, LibraryNotFoundError, NotInitializedError, QapiError, RefusedError,
                     WrongThreadError)
from .handles import CallRecordFeed, RoutingLink, Station
from .notifications import (CallList, CallRecord, Digit, ExtensionStatus, FeedState, FeedStatus, Heartbeat, Key,
                            LinkState, LinkStatus, Notification, NotifyCode, Number, ParkList, RegState,
                            RouteRequest, Snapshot, Text, Unknown)
from .receive import AsyncNotifications, async_notifications, notifications
from .session import Session, initialize, release

__all__ = [
    "initialize", "release", "Session", "notifications", "async_notifications", "AsyncNotifications",
    "Station", "CallRecordFeed", "RoutingLink",
    "Notification", "Snapshot", "Key", "Digit", "Number", "Text", "ExtensionStatus", "CallList", "ParkList",
    "FeedStatus", "LinkStatus", "CallRecord", "RouteRequest", "Heartbeat", "Unknown",
    "NotifyCode", "RegState", "FeedState", "LinkState",
    "QapiError", "LibraryNotFoundError", "NotInitializedError", "WrongThreadError", "BadHandleError",
    "RefusedError",
]
