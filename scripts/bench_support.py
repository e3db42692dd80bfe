"""What the benchmark and soak scripts share: a free port on 127.0.0.1, the open-file limit,
the settings that make a copy of workdir/ listen there, and the wait for the listener."""

import pathlib
import resource
import socket
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
SETTINGS = "orvchatserver.cfg"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def raise_file_limit():
    """Thousands of clients need as many descriptors: raises the soft limit (children inherit
    it) as far as the hard limit allows and returns it."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = hard if hard != resource.RLIM_INFINITY else 65536
    if soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0]


# What the load scripts change in the server's limits, and why; each script prints it.
LIMITS_NOTE = ("server settings: MaxInputRate 0, no read limit per connection (the load's "
               "senders outrun any person by far); MaxConnectionsPerAddress 0 (every client "
               "comes from 127.0.0.1)")


def patched_settings(original, port, input_rate=0, per_address=0):
    """The settings (bytes) with 127.0.0.1:port put in front (the first complete block of a
    key is its value), and by default without the read limit per connection and the limit of
    connections per address: a load generator sends far faster than a person, and all its
    clients come from one address. None keeps the server's own value."""
    head = f"<ServerIP>\n127.0.0.1\n</ServerIP>\n<ServerPort>\n{port}\n</ServerPort>\n"
    if input_rate is not None:
        head += f"<MaxInputRate>\n{input_rate}\n</MaxInputRate>\n"
    if per_address is not None:
        head += f"<MaxConnectionsPerAddress>\n{per_address}\n</MaxConnectionsPerAddress>\n"
    return head.encode("cp1251") + original


def wait_listening(port, process, seconds=15.0):
    """Whether something listens on 127.0.0.1:port before process ends or seconds pass."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False
