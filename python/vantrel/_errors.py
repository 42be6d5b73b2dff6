"""The exceptions of the package; every one derives from VantrelError."""


class VantrelError(Exception):
    """Base of every error the package raises for the library's results."""


class LibraryNotFoundError(VantrelError, OSError):
    """The Vantrel shared library could not be loaded.

    Set VANTREL_LIBRARY to its path, or add its directory to the loader's
    path (LD_LIBRARY_PATH on Linux, PATH on Windows).
    """


class LoginError(VantrelError):
    """The library could not open a session (``Login`` returned -1)."""


class ServerUnreachableError(LoginError):
    """No TCP connection to the quotes server could be made: check the host
    name, the port, and that the server is running and reachable."""


class LoginRefusedError(LoginError):
    """The server was reached but did not grant the login in time: check the
    login and the password, or the server's own log."""


class NoSessionError(VantrelError):
    """A query was made while no session was open (the library returned -2):
    log in first, and keep the session open while querying."""
