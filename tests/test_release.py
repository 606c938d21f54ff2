"""What an instance releases, in which order, and what finalisers may do meanwhile."""

import ctypes

import pytest

from conftest import HAS_MALLINFO, SANITIZED, Morvane, allocated_bytes

DEPTH = 50_000 if SANITIZED else 100_000


class Logged:
    def __init__(self, name, log):
        self.name, self.log = name, log

    def __del__(self):
        self.log.append(self.name)


def machine():
    m = Morvane({"q0", "q1"}, {"a"}, "q0", set())
    m.add_transition("q0", "a", "q1")
    m.add_transition("q1", "a", "q0")
    return m


def loaded(log, snapshots, data):
    """An instance whose history snapshots and data are Logged objects."""
    m = machine()
    objects = {name: Logged(name, log) for name in {*snapshots, data}}
    for name in snapshots:
        m.set_data(objects[name])
        m.step("a")
    m.set_data(objects[data])
    return m


@pytest.mark.parametrize(
    "snapshots, data, order",
    [("ABC", "D", "DABC"), ("ABC", "C", "ABC"), ("ABA", "B", "BA"), ("BAC", "A", "BAC")],
)
@pytest.mark.parametrize("release", ["del", "reset"])
def test_data_goes_before_snapshots_oldest_first(snapshots, data, order, release):
    log = []
    m = loaded(log, snapshots, data)
    assert log == []
    if release == "del":
        del m
    else:
        m.reset()
        assert (m.data, m.history_len(), m.current_state) == (None, 0, "q0")
    assert "".join(log) == order


def test_clear_history_releases_oldest_first():
    log = []
    m = loaded(log, "CBA", "D")
    m.clear_history()
    assert log == ["C", "B", "A"]
    assert m.history_len() == 0 and m.data.name == "D" and m.current_state == "q1"
    m.clear_data()
    assert log[-1] == "D"


def test_undo_releases_only_the_replaced_data():
    log = []
    m = loaded(log, "AB", "C")
    assert m.undo() is True and log == ["C"] and m.data.name == "B"
    assert m.undo() is True and log == ["C", "B"] and m.data.name == "A"
    assert m.undo() is False and log == ["C", "B"]


class Reentrant:
    """Calls back into the instance from its finaliser and records what happened."""

    def __init__(self, m, log):
        self.m, self.log = m, log

    def __del__(self):
        for name, call in [
            ("data", lambda: self.m.data),
            ("history_len", self.m.history_len),
            ("set_data", lambda: self.m.set_data("from finaliser")),
            ("step", lambda: self.m.step("a")),
        ]:
            try:
                self.log.append((name, call()))
            except RuntimeError as error:
                self.log.append((name, str(error)))


BORROW_ERRORS = [
    ("data", "Already mutably borrowed"),
    ("history_len", "Already mutably borrowed"),
    ("set_data", "Already borrowed"),
    ("step", "Already borrowed"),
]


# (how the finaliser's object is held, the releasing call, (data, state, history length) after it)
@pytest.mark.parametrize(
    "held, release, after",
    [
        ("data", lambda m: m.set_data("new"), ("new", "q1", 1)),
        ("data", lambda m: m.update_context("new"), ("new", "q1", 1)),
        ("data", lambda m: m.clear_data(), (None, "q1", 1)),
        ("data", lambda m: m.undo(), ("old", "q0", 0)),
        ("data", lambda m: m.reset(), (None, "q0", 0)),
        ("data", lambda m: m.transform_data("int", "add", 2), (2, "q1", 1)),
        ("data", lambda m: m.transform_data("str", "clear", None), (None, "q1", 1)),
        ("snapshot", lambda m: m.clear_history(), ("old", "q1", 0)),
        ("snapshot", lambda m: m.reset(), (None, "q0", 0)),
    ],
)
def test_finaliser_reentry_gets_borrow_errors(held, release, after):
    log = []
    m = machine()
    obj = Reentrant(m, log)
    m.set_data(obj if held == "snapshot" else "old")
    m.step("a")
    m.set_data("old" if held == "snapshot" else obj)
    del obj
    release(m)
    assert log == BORROW_ERRORS
    assert (m.data, m.current_state, m.history_len()) == after
    m.step("a")  # the borrow was given back
    assert m.history_len() == after[2] + 1


def chain(depth, link):
    """depth instances, each holding the previous one as data or as a history snapshot."""
    log = []
    previous = Logged("bottom", log)
    for _ in range(depth):
        m = Morvane({"q"}, {"a"}, "q", set())
        m.set_data(previous)
        if link == "snapshot":
            m.step("a")
            m.clear_data()
        previous = m
    return previous, log


@pytest.mark.parametrize(
    "link, release", [("data", "del"), ("data", "reset"), ("snapshot", "del"), ("snapshot", "clear_history")]
)
def test_deep_chain_release(link, release):
    top, log = chain(DEPTH, link)
    if release == "del":
        del top
    elif release == "reset":
        top.reset()
    else:
        top.clear_history()
    assert log == ["bottom"]


@pytest.mark.skipif(SANITIZED or not HAS_MALLINFO, reason="needs glibc's own allocator")
def test_short_histories_stay_small():
    count = 5_000
    before = allocated_bytes()
    kept = []
    for _ in range(count):
        m = machine()
        m.step("a")
        kept.append(m)
    per_instance = (allocated_bytes() - before) // count
    assert per_instance < 16 * 1024, f"{per_instance} bytes per instance with a one-entry history"


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * __import__("os").sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(SANITIZED or not hasattr(ctypes.CDLL(None), "malloc_trim"), reason="needs glibc's own allocator")
@pytest.mark.parametrize("release", ["reset", "clear_history"])
def test_a_long_history_gives_its_memory_back(release):
    m = machine()
    ctypes.CDLL(None).malloc_trim(0)  # start from a heap without free pages to reuse
    before = resident_bytes()
    for _ in range(1_000_000):
        m.step("a")
    grown = resident_bytes() - before
    assert grown > 8_000_000  # 16 bytes an entry, give or take
    getattr(m, release)()
    assert resident_bytes() - before < grown // 4
