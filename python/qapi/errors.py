"""The exceptions of the package: every refusal of the library, with its reason."""


class QapiError(Exception):
    """Base of every error the package raises."""


class LibraryNotFoundError(QapiError, OSError):
    """libqapi could not be found or loaded; the message lists where it looked."""


class NotInitializedError(QapiError):
    """The library is not initialised: call qapi.initialize() first."""


class WrongThreadError(QapiError):
    """A call from a thread other than the one that initialised the library.

    The library runs its timer and posts its notifications on that thread,
    and every call must come from it.
    """


class BadHandleError(QapiError):
    """The station, feed or link was stopped, or the library was released or
    initialised again since it started: its handle is no longer live."""


class RefusedError(QapiError):
    """The library refused an operation or a start.

    `operation` is the library function's name (e.g. "QAPI_Client_answer"),
    `reason` says what makes the library refuse it.
    """

    def __init__(self, operation, reason):
        super().__init__(f"{operation} refused: {reason}")
        self.operation = operation
        self.reason = reason
