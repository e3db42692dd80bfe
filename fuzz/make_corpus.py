#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Each seed is laid out the way its target reads the input (see the comment at the top of
each target). Packets are encoded with the built-in substitution pair, taken from
tools/make_alphabets.py. Run it again after changing a target's input layout:

  python3 fuzz/make_corpus.py
"""

import hashlib
import pathlib
import shutil
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
import make_alphabets  # noqa: E402

PLAIN, WIRE = make_alphabets.make_pair()
CORPUS = ROOT / "fuzz" / "corpus"


def encode(text):
    data = text.encode("latin-1") if isinstance(text, str) else text
    return make_alphabets.encode(PLAIN, WIRE, data)


def b(text):
    return text.encode("latin-1") if isinstance(text, str) else bytes(text)


def short(text):
    """A length byte and the bytes."""
    data = b(text)
    assert len(data) < 256
    return bytes([len(data)]) + data


def long_text(text):
    data = b(text)
    return struct.pack(">H", len(data)) + data


def u32(n):
    return struct.pack(">I", n & 0xFFFFFFFF)


def packet(mac, name, ptype, body, ip="192.168.1.20"):
    return "%s(%s)||%s||av.gif||0.0||0||%d||%s//end" % (ip, mac, name, ptype, body)


class Seeds:
    def __init__(self, target):
        self.folder = CORPUS / target
        if self.folder.exists():
            shutil.rmtree(self.folder)
        self.folder.mkdir(parents=True)

    def add(self, name, data):
        digest = hashlib.sha1(data).hexdigest()[:8]
        (self.folder / ("%s-%s" % (name, digest))).write_bytes(data)


# ---------------------------------------------------------------------------------------
# engine_fuzzer: two settings bytes, then steps.

TERMINATOR = encode("//end")
IPS = ["192.168.1.20", "10.0.0.5", "", "1.2.3.4"]
MACS = ["AA", "BB", "CC", "DD", "00AABBCCDDEE"]
NAMES = ["alice", "bob", "mallory", "Srv", ""]
TYPES = [2, 4, 5, 14, 16, 25, 34, 7, 6, 37, 45, 0]
STATUS_BODIES = ["1:online", "3:away:busy", "", "x:"]
BODIES = {
    5: ["Srv: help", "Srv:INFO", "Srv", "hi", "Srv: nothing", "Srv: ../x"],
    14: ["Srv", "Srv x", "other"],
    16: ["note.txt;hello", "../up;x", "a;", ";x", "n" * 300 + ";c", "big;" + "b" * 200, "a\x01;x"],
}
STATUS_TYPES = {2, 4, 7, 25, 34}


def choose(options, value):
    """The bytes that make Choose pick value: its index, or the extra index and a text."""
    if value in options:
        return bytes([options.index(value)])
    return bytes([len(options)]) + short(value)


class Engine:
    def __init__(self, a=0, b_=0):
        self.data = bytes([a, b_])

    def op(self, code, *parts):
        self.data += bytes([code]) + b"".join(parts)
        return self

    def connect(self, peer=0, defer=False):
        return self.op(0, bytes([peer, 1 if defer else 0]))

    def raw(self, conn, data):
        return self.op(1, bytes([conn]), short(data))

    @staticmethod
    def packet_args(mac, name, ptype, body, ip):
        parts = [choose(IPS, ip), choose(MACS, mac), choose(NAMES, name)]
        if ptype in TYPES:
            parts.append(bytes([TYPES.index(ptype)]))
        else:
            parts.append(bytes([len(TYPES), ptype]))
        if ptype in STATUS_TYPES:
            parts.append(choose(STATUS_BODIES, body))
        elif ptype in BODIES:
            parts.append(choose(BODIES[ptype], body))
        else:
            parts.append(short(body))
        return b"".join(parts)

    def send(self, conn, mac, name, ptype, body, ip="192.168.1.20", mode=0, at=0):
        """mode: 0 whole, 1 split after at bytes, 2 behind a zero byte, 3 twice, 4 bytewise."""
        extra = bytes([at]) if mode == 1 else b""
        return self.op(2, bytes([conn]), self.packet_args(mac, name, ptype, body, ip),
                       bytes([mode]), extra)

    def peer_closed(self, conn):
        return self.op(4, bytes([conn]))

    def receive_error(self, conn):
        return self.op(5, bytes([conn]))

    def overflow(self, conn):
        return self.op(6, bytes([conn]))

    def row(self, command, row, afs=0, mac_choice=0):
        return self.op(7, bytes([command, row + 1, afs + 20, mac_choice]))

    def unblock(self, row, mac_choice=0):
        return self.op(8, bytes([row + 1, mac_choice]))

    def say(self, text):
        return self.op(9, short(text))

    def refresh(self):
        return self.op(10)

    def advance(self, index):
        return self.op(11, bytes([index]))

    def accept_failed(self, text):
        return self.op(12, short(text))

    def own_packet(self, mac, name, ptype, body, ip="192.168.1.20"):
        return self.op(13, self.packet_args(mac, name, ptype, body, ip))

    def shutdown(self):
        return self.op(14, bytes([0]))

    def long_raw(self, conn, data):
        return self.op(15, bytes([conn]), long_text(data))

    def files(self, choice, text=None):
        return self.op(16, bytes([choice]), short(text) if text is not None else b"")

    def drain(self, conn):
        return self.op(17, bytes([conn]))

    def crowd(self, count):
        return self.op(18, bytes([count - 1]))

    def board_file(self, conn, number, size):
        """A type-16 packet for board/f<number>.txt of size bytes."""
        return self.op(2, bytes([conn]), choose(IPS, "192.168.1.20"), choose(MACS, "CC"),
                       choose(NAMES, "alice"), bytes([TYPES.index(16), len(BODIES[16]) + 1]),
                       bytes([number, size, 0]))


# Row commands, as RowCommand numbers them.
KICK, BLOCK_IP, BLOCK_MAC, BLOCK_NAME, UNBLOCK_IP, UNBLOCK_MAC, UNBLOCK_NAME, SET_AFS = range(8)


def engine_seeds():
    s = Seeds("engine_fuzzer")
    login = Engine().connect(0).send(0, "AA", "alice", 4, "1:online").connect(1)
    login.send(1, "BB", "bob", 2, "1:online")
    s.add("login-and-list", login.data)

    chat = Engine().connect(0).send(0, "AA", "alice", 4, "1:online")
    chat.send(0, "AA", "alice", 5, "Srv: help").send(0, "AA", "alice", 5, "Srv:INFO")
    chat.send(0, "AA", "alice", 14, "Srv").send(0, "AA", "alice", 5, "hi", mode=1, at=17)
    chat.send(0, "AA", "alice", 25, "3:away:busy").send(0, "AA", "alice", 34, "1:online")
    chat.advance(4).refresh()
    s.add("chat-commands-profile", chat.data)

    board = Engine(0, 4).connect(0).send(0, "CC", "carol", 16, "note.txt;hello")
    board.send(0, "CC", "carol", 16, "../up;x").send(0, "CC", "carol", 16, "big;" + "b" * 200)
    board.send(0, "CC", "carol", 16, "n" * 300 + ";c").files(4).send(0, "CC", "x", 16, "a;")
    s.add("board-files", board.data)

    kick = Engine().connect(0).send(0, "AA", "alice", 4, "1:online").connect(2)
    kick.send(1, "BB", "bob", 4, "1:online").row(KICK, 0, mac_choice=1).raw(0, encode(packet("AA", "alice", 5, "still here")))
    kick.advance(2).row(KICK, 0).row(KICK, 5).refresh()
    s.add("kick", kick.data)

    block = Engine().connect(0).send(0, "AA", "alice", 4, "1:online").connect(1)
    block.send(1, "BB", "bob", 4, "1:online").row(BLOCK_IP, 0).row(BLOCK_MAC, 1, mac_choice=1)
    block.send(0, "AA", "alice", 5, "hi").unblock(0).unblock(1, mac_choice=2).unblock(1)
    block.row(BLOCK_NAME, 0).row(UNBLOCK_NAME, 0).row(SET_AFS, 1, afs=55).row(SET_AFS, 0, afs=101)
    block.files(5).row(BLOCK_MAC, 0).row(SET_AFS, 0, afs=3)
    s.add("block-unblock-afs", block.data)

    listed = Engine(0, 0x60).connect(2).send(0, "BB", "bob", 4, "1:online", ip="10.0.0.5")
    listed.connect(0).send(1, "AA", "alice", 2, "1:online").send(1, "CC", "carol", 4, "x:")
    s.add("block-list-and-afs-file", listed.data)

    small = Engine(1).connect(0).send(0, "AA", "alice", 4, "1:online").raw(0, "x" * 70)
    small.connect(1).long_raw(1, encode(packet("DD", "dave", 5, "y" * 100)))
    s.add("max-packet-size", small.data)

    idle = Engine(0x10).connect(0).connect(1).send(1, "AA", "alice", 4, "1:online")
    idle.advance(2).advance(3).send(1, "AA", "alice", 5, "hi").advance(5)
    s.add("idle-timeout", idle.data)

    per_address = Engine(0x44).connect(0).connect(0).connect(1).send(0, "AA", "a", 4, "1:x")
    per_address.send(0, "BB", "b", 4, "1:x").send(2, "AA", "thief", 4, "1:x")
    s.add("limits-per-address-and-connection", per_address.data)

    deferred = Engine().connect(0, defer=True).send(0, "AA", "alice", 2, "1:online")
    deferred.connect(1, defer=True).send(1, "BB", "bob", 2, "1:online").peer_closed(0)
    deferred.drain(1).send(1, "CC", "carol", 2, "1:online").shutdown().drain(1)
    s.add("deferred-lists", deferred.data)

    errors = Engine().connect(0).connect(1).send(0, "AA", "alice", 4, "1:online")
    errors.receive_error(0).overflow(1).accept_failed("out of descriptors").connect(3)
    errors.peer_closed(2).raw(2, b"\x00\x00abc")
    s.add("errors", errors.data)

    split = Engine().connect(0)
    whole = encode(packet("AA", "alice", 4, "1:online") + packet("BB", "bob", 5, "hi"))
    split.raw(0, whole[:20]).raw(0, whole[20:61]).raw(0, whole[61:])
    split.send(0, "AA", "alice", 5, "hi", mode=2).send(0, "AA", "alice", 5, "hi", mode=3)
    split.send(0, "AA", "alice", 5, "Srv: help", mode=4)
    s.add("split-and-joined", split.data)

    operator = Engine(0, 0x81).connect(0).say("  hello everybody  ").say("x").say("a\x00b")
    operator.own_packet("AA", "alice", 4, "1:online").own_packet("BB", "bob", 16, "a;")
    operator.refresh().refresh().shutdown().say("after").connect(0)
    s.add("operator", operator.data)

    files = Engine(0, 8).connect(0).send(0, "AA", "alice", 4, "1:online").files(0)
    files.send(0, "AA", "alice", 5, "Srv: help").files(1).files(2).connect(1).files(3)
    files.files(6, "[LIST]\nalice=1\n").send(0, "AA", "alice", 5, "hi")
    files.files(7, "[LIST]\nAA=-3\n").send(0, "AA", "alice", 4, "2:x")
    s.add("files-change", files.data)

    listen_fails = Engine(0, 0x13).connect(0).send(0, "AA", "al\x1bice\r\n", 4, "1:\tonline")
    s.add("listen-fails-debug-log", listen_fails.data)

    garbage = Engine().connect(0).raw(0, encode("no header at all//end"))
    garbage.raw(0, encode("1.2.3.4(AA)||x//end")).raw(0, encode("(AA)||n||a||s||f||5||b//end"))
    garbage.raw(0, encode("1.2.3.4()||n||a||s||f||5||b//end")).raw(0, b"plain//end")
    s.add("incomplete-headers", garbage.data)

    crowd = Engine().connect(0, defer=True).crowd(8).crowd(5).send(0, "AA", "alice", 2, "1:x")
    crowd.drain(0).advance(4).row(KICK, 3).peer_closed(2).crowd(3).send(0, "AA", "alice", 2, "1:x")
    s.add("crowd-lists", crowd.data)

    quota = Engine(0, 4).connect(0)
    for number in range(6):
        quota.board_file(0, number, 90)
    quota.board_file(0, 1, 10).advance(5).board_file(0, 7, 99)
    s.add("board-quota", quota.data)

    # Every scenario once more with the day's log and the trace lines on.
    for seed in sorted(s.folder.iterdir()):
        data = seed.read_bytes()
        if data[1] & 3 != 3:
            s.add(seed.name.rsplit("-", 1)[0] + "-logged", data[:1] + bytes([data[1] | 3]) + data[2:])


# ---------------------------------------------------------------------------------------
# packet_assembler_fuzzer: limit, terminator, stop count, start bytes, cutting seed, stream.

def assembler_seeds():
    s = Seeds("packet_assembler_fuzzer")
    packets = encode(packet("AA", "alice", 4, "1:online") + packet("BB", "bob", 5, "hello"))

    def seed(name, limit, term, stop, cut, stream, start=1):
        s.add(name, struct.pack(">H", limit) + bytes([term, stop, start]) + u32(cut) + stream)

    seed("two-packets", 1000, 0, 0, 1, packets)
    seed("two-packets-stop", 1000, 0, 1, 7, packets)
    seed("zero-bytes", 1000, 0, 0, 3, b"junk\x00" + packets + b"\x00tail")
    seed("unfinished", 1000, 0, 0, 5, packets + encode("1.2.3.4(CC)||carol||"))
    seed("at-limit", 30, 1, 0, 9, b"x" * 30 + b"//end" + b"y" * 31 + b"//end")
    seed("overlapping", 10, 4, 0, 11, b"aaaaa" + b"baaab" + b"\x00aa")
    seed("newlines", 8, 2, 3, 13, b"one\ntwo\nthree\nfour\n")
    seed("aba", 5, 5, 0, 2, b"abababa" + b"xxaba" + b"ab")
    # The real terminator split at every place by pieces of one to a few bytes.
    for cut in range(1, 9):
        seed("cut-%d" % cut, 64, 0, 0, cut * 7919, packets + encode("x" * 40 + "//end"))
    seed("limit-zero", 0, 0, 0, 17, encode("//end//end") + b"\x00" + encode("//end"))
    seed("long-garbage", 100, 0, 0, 19, b"g" * 200 + b"\x00" + packets)
    seed("limit-large", 1023, 1, 2, 23, b"//end" * 5)
    for term in range(6):
        seed("every-terminator-%d" % term, 12, term, 0, 29 + term,
             b"ab\naa//end" + encode("//end") + b"\x00aba" + b"x" * 20 + b"aab//end\n")
    # Clients that write characters after each terminator, alone or several in one write.
    plain = packet("AA", "alice", 4, "1:online")
    for name, trailer in (("letters", "ABCD"), ("crlf", "\r\n\r\n"), ("short", "\r\n")):
        seed("trailer-" + name, 1000, 0, 0, 31, encode(plain + trailer + plain + trailer))
        seed("trailer-" + name + "-stop", 1000, 0, 1, 37, encode(plain + trailer + plain))
    seed("trailer-long", 1000, 0, 0, 41, encode(plain + "ABCDEFG" + plain + "12" + plain))
    seed("trailer-none", 1000, 0, 0, 43, encode(plain + "ABCD" + plain), start=0)
    seed("trailer-letters", 12, 3, 0, 47, b"xxab" + b"zzab" + b"cdefab\x00yab", start=2)


# ---------------------------------------------------------------------------------------
# safe_format_fuzzer: integer, text, format.

def format_seeds():
    s = Seeds("safe_format_fuzzer")
    formats = [
        "%d users connected", "Users: %i", "Connection from %s accepted", "%s", "%d",
        "%5d|%-5d|%05d|%+d|%+05d", "%-10s|%10s|%.3s|%-8.2s", "100%% sure %d", "50% done %s",
        "%lld %ld %x %s %d", "%101d %100d", "%.d %.5s", "%0s %+s %s", "%", "%%%", "%-",
        "%99999999999999999999d", "%5.99999999999s",
        # Language lines as operators write them.
        "Connection from %s closed", "%d user(s) online", "Kicked: %s", "Blocked by IP: %s",
        "Unblocked by name: %s", "Console keeps %d lines", "AFS %d%%", "%s joined (%d)",
        "%-20s|", "%020d", "%+i", "%-+5d|", "%.0s|", "%3.1s|",
    ]
    values = [0, 1, -1, 2413, 2**63 - 1, -2**63, 300]
    for i, f in enumerate(formats):
        n = values[i % len(values)] & 0xFFFFFFFFFFFFFFFF
        text = ["alice", "", "192.168.1.20", "a\x00b", "%d %s", "x" * 200][i % 6]
        s.add("format-%02d" % i, struct.pack(">Q", n) + short(text) + b(f))


# ---------------------------------------------------------------------------------------
# profile_file_fuzzer: section, key, value, file.

LIST_FILE = "[LIST]\r\n192.168.1.21=1\r\nAA=1\r\nmallory=\r\n"


def profile_seeds():
    s = Seeds("profile_file_fuzzer")

    def seed(name, section, key, value, content):
        s.add(name, short(section) + short(key) + short(value) + b(content))

    seed("new-file", "LIST", "alice", "1", "")
    seed("existing-key", "LIST", "AA", "", LIST_FILE)
    seed("new-key", "list", "bob", "1", LIST_FILE)
    seed("other-section", "STRINGS", "STR1", "text", LIST_FILE)
    seed("lf-and-comments", "LIST", " aa ", "7", "; comment\n[LIST]\naa = 3\n\n[X]\naa=4\n")
    seed("quotes", "LIST", "q", "\"quoted\"", "[LIST]\nq='x'\n")
    seed("refused-key", "LIST", "a=b", "1", LIST_FILE)
    seed("refused-value", "LIST", "a", "1\r\n[X]", LIST_FILE)
    seed("no-line-end", "LIST", "z", "1", "[LIST]\r\nAA=1")
    seed("duplicate-sections", "LIST", "k", "v", "[LIST]\na=1\n[OTHER]\n[list]\nk=old\n")
    seed("cyrillic", "LIST", "\xc0\xc1", "1", "[LIST]\n\xe0\xe1=0\n")
    seed("long-value", "LIST", "k", "v" * 150, LIST_FILE)
    seed("blank-value", "LIST", "k", "  padded \t", LIST_FILE)
    seed("bare-word", "LIST", "flag", "1", "[LIST]\nflag\n")
    seed("section-unclosed", "LIST", "a", "2", "[LIST\na=1\n")
    seed("nameless-lines", "LIST", "a", "3", "a=0\n[LIST]\n")
    seed("lone-cr", "LIST", "a", "4", "[LIST]\ra=1\r\nb=2\r")
    seed("zero-byte", "LIST", "a", "5", "[LIST]\na=x\x00y\n")
    seed("refused-section", "LI]ST", "a", "1", LIST_FILE)
    seed("semicolon-key", "LIST", ";a", "1", LIST_FILE)
    seed("blank-lines", "LIST", "new", "1", "[LIST]\r\na=1\r\n\r\n\r\n[X]\r\n")
    seed("strings", "STRINGS", "STR5", "Server stopped", "[STRINGS]\r\nSTR4=a\r\nSTR5=b\r\n")
    seed("case-folding", "list", "\xa8", "1", "[LIST]\n\xb8=0\n")
    seed("empty-section", " ", "k", "1", LIST_FILE)


# ---------------------------------------------------------------------------------------
# lists_fuzzer: IP, name, MAC, peer, key, AFS value, default, language choice, file.

def lists_seeds():
    s = Seeds("lists_fuzzer")

    def seed(name, ip, user, mac, peer, key, value, default, language, content):
        s.add(name, short(ip) + short(user) + short(mac) + short(peer) + short(key) +
              u32(value) + u32(default) + bytes([language]) + b(content))

    strings = "[STRINGS]\r\n" + "".join("STR%d=Text %d %%s\r\n" % (n, n) for n in range(41))
    seed("blocked-ip", "192.168.1.21", "bob", "BB", "", "carol", 7, 15, 0, LIST_FILE)
    seed("blocked-peer", "1.2.3.4", "x", "CC", "192.168.1.21", "AA", 100, 15, 1, LIST_FILE)
    seed("afs", "1.2.3.4", "alice", "AA", "", "AA", 0, -1, 0, "[LIST]\r\nAA=42\r\nBB=x\r\n")
    seed("afs-wrapped", "", "", "BB", "", "BB", 5, 9, 0, "[LIST]\nBB=4294967295\n")
    seed("language", "", "", "", "", "k", 1, 1, 0, strings)
    seed("language-gaps", "", "", "", "", "k", 1, 1, 2,
         "[strings]\nSTR0=\nSTR1=\"\"\nstr2=two\nSTR40=" + "z" * 120 + "\n")
    seed("empty", "", "", "", "", "", 0, 0, 0, "")
    seed("blocked-name", "1.2.3.4", "Mallory", "EE", "10.0.0.9", "mallory", 1, 1, 0,
         "[LIST]\nmallory=1\n")
    seed("unblocked-key", "10.0.0.9", "x", "AA", "", "AA", 1, 1, 0, "[LIST]\nAA=\n10.0.0.9=1\n")
    seed("quoted", "q", "", "", "", "q", 1, 1, 0, "[LIST]\nq=\"\"\nr='1'\n")
    seed("cyrillic", "\xc0\xc1", "\xe0", "", "", "\xe0\xe1", 1, 1, 0, "[list]\n\xe0\xe1=1\n")
    seed("afs-big", "", "", "CC", "", "CC", 2**31 - 1, 15, 1, "[LIST]\nCC=2147483648\n")
    seed("refused-key", "", "", "a=b", "", "a=b", 1, 1, 0, LIST_FILE)
    seed("two-lists", "1.1.1.1", "", "", "", "1.1.1.1", 1, 1, 0, "[LIST]\na=1\n[LIST]\n1.1.1.1=1\n")
    for n, (ip, user, mac, peer) in enumerate([
            ("10.0.0.5", "bob", "BB", "10.0.0.5"), (" 192.168.1.21 ", "", "", ""),
            ("", "MALLORY", "", ""), ("", "", "aa", ""), ("", "", "", "192.168.1.21"),
            ("x", "y", "z", "w"), ("192.168.1.21", "mallory", "AA", "10.0.0.5")]):
        seed("probe-%d" % n, ip, user, mac, peer, ["z", "AA", " q "][n % 3], n * 13, n - 3,
             n % 3, LIST_FILE + "[STRINGS]\r\nSTR%d=x\r\n" % n)
    seed("language-crlf", "", "", "", "", "k", 1, 1, 1,
         "\r\n".join(["[STRINGS]"] + ["STR%d = 'v%d %%d'" % (n, n) for n in range(0, 41, 2)]))


# ---------------------------------------------------------------------------------------
# settings_fuzzer: flags, key, value, alphabet seed, content.

SETTINGS = (
    "<ServerName>\nSrv\n</ServerName>\n<ServerIP>\n10.9.8.7\n</ServerIP>\n"
    "<ServerPort>\n5000\n</ServerPort>\n<FloodStopper>\n10\n</FloodStopper>\n"
    "<ServerWelcomeMessage>\nWelcome!\n\nTwo lines\n</ServerWelcomeMessage>\n"
    "<MaxPacketSize>\n 4096 \n</MaxPacketSize>\n<BoardQuota>\n99999999999999999999\n</BoardQuota>\n"
    "<IdleTimeout>\nx\n</IdleTimeout>\n<DebugLog>\n1\n</DebugLog>\n<ServerAllowLog>\n0\n</ServerAllowLog>\n"
)


def settings_seeds():
    s = Seeds("settings_fuzzer")

    def seed(name, flags, key, value, alphabet_seed, content):
        s.add(name, bytes([flags]) + short(key) + short(value) + u32(alphabet_seed) + b(content))

    seed("settings", 0, "ServerName", "name", 1, SETTINGS)
    seed("crlf", 0, "ServerPort", "5000", 2, SETTINGS.replace("\n", "\r\n"))
    seed("multi-line", 0, "ServerWelcomeMessage", "a\n\nb\n", 3, SETTINGS)
    seed("alphabets", 1, "ServerPlainAlphabet", "x", 4, SETTINGS)
    for spoil in range(1, 6):
        seed("alphabets-spoilt-%d" % spoil, 1 | spoil << 1, "k", "v", 5 + spoil, SETTINGS)
    seed("unclosed", 0, "ServerName", "v", 12, "<ServerName>\nSrv\n<ServerName>\nx\n")
    seed("language", 0, "ServerLanguage", "v", 13, "<ServerLanguage>\n  deutsch \n</ServerLanguage>\n")
    seed("empty", 0, "", "", 0, "")
    seed("limits", 0, "MaxUsersPerConnection", "3", 14,
         "<MaxUsersPerConnection>\n3x\n</MaxUsersPerConnection>\n<BoardFileLimit>\n"
         "2147483648\n</BoardFileLimit>\n<MaxConnectionsPerAddress>\n007\n"
         "</MaxConnectionsPerAddress>\n<IdleTimeout>\n-5\n</IdleTimeout>\n")
    seed("short-name", 0, "ServerName", " x ", 15, "<ServerName>\n x \n</ServerName>\n")
    seed("log-switches", 0, "ServerAllowLog", "1", 16,
         "<ServerAllowLog>\n  -0\n</ServerAllowLog>\n<DebugLog>\n2\n</DebugLog>\n"
         "<MaxLineMessage>\n99999999999\n</MaxLineMessage>\n")
    seed("close-before-open", 0, "K", "v", 17, "</K>\n<K>\nx\n</K>\n")
    seed("lone-cr", 0, "K", "v", 18, "<K>\r\nx\r\ry\r\n</K>\r")
    seed("alphabets-crlf", 1, "ServerWireAlphabet", "v", 19, SETTINGS.replace("\n", "\r\n"))
    seed("alphabets-only-wire", 1 | 5 << 1 | 0x10, "k", "v", 20, "")
    seed("port", 0, "ServerPort", "v", 21, "<ServerPort>\n99999999999\n</ServerPort>\n")
    seed("floodstopper", 0, "FloodStopper", "v", 22, "<FloodStopper>\n0\n</FloodStopper>\n")
    seed("nested-keys", 0, "A", "<B>\nx\n</B>", 24, "<A>\n<B>\nb\n</B>\n</A>\n")
    seed("every-setting", 1, "ServerIP", "10.1.1.1", 25, SETTINGS + "<ServerLanguage>\nenglish\n"
         "</ServerLanguage>\n<MaxUsersPerConnection>\n0\n</MaxUsersPerConnection>\n")
    seed("unknown-language", 0, "ServerLanguage", "v", 23,
         "<ServerLanguage>\n../lang\n</ServerLanguage>\n")


def main():
    engine_seeds()
    assembler_seeds()
    format_seeds()
    profile_seeds()
    lists_seeds()
    settings_seeds()
    for folder in sorted(CORPUS.iterdir()):
        print("%s: %d seeds" % (folder.relative_to(ROOT), len(list(folder.iterdir()))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
