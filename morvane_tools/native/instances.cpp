// Reading a Morvane into the dense form and building one from it, through
// the class's public methods only: get_states, get_alphabet, get_finals,
// initial_state and get_transitions to read; the constructor and
// add_transition to build. The instance's memory layout stays the class's
// own business, so the toolkit keeps working whatever the class does inside.

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "addresses.hpp"
#include "build_order.hpp"
#include "instances.hpp"
#include "scratch.hpp"

namespace morvane_tools {
namespace {

Object call_query(PyObject* instance, const char* name) {
    return checked(PyObject_CallMethod(instance, name, nullptr));
}

Object checked_list(Object object, const char* query) {
    if (!PyList_CheckExact(object.ptr())) {
        PyErr_Format(PyExc_TypeError, "%s() returned %.80s, not a list", query, Py_TYPE(object.ptr())->tp_name);
        throw PythonError{};
    }
    return object;
}

PyObject* checked_text(PyObject* item, const char* query) {
    if (!PyUnicode_Check(item)) {
        PyErr_Format(PyExc_TypeError, "%s() gave %.80s where text was expected", query, Py_TYPE(item)->tp_name);
        throw PythonError{};
    }
    return item;
}

// Columns of one-character symbols by code point: a table for the Basic
// Multilingual Plane, a sorted search above it.
class ColumnLookup {
public:
    explicit ColumnLookup(const std::vector<Py_UCS4>& symbols) : symbols_(symbols) {
        Py_UCS4 highest = 0;
        for (const Py_UCS4 symbol : symbols) highest = std::max(highest, symbol);
        if (highest < 0x10000 && !symbols.empty()) {
            table_.assign(highest + 1, -1);
            for (std::size_t column = 0; column < symbols.size(); ++column)
                table_[symbols[column]] = static_cast<std::int32_t>(column);
        }
    }

    std::int32_t column(Py_UCS4 symbol) const noexcept {
        if (!table_.empty()) return symbol < table_.size() ? table_[symbol] : -1;
        const auto found = std::lower_bound(symbols_.begin(), symbols_.end(), symbol);
        return found != symbols_.end() && *found == symbol ? static_cast<std::int32_t>(found - symbols_.begin()) : -1;
    }

private:
    std::vector<Py_UCS4> symbols_;
    std::vector<std::int32_t> table_;
};

// State name -> index. A str's content is its kind (1, 2 or 4 bytes per
// character) and its character data; equal strings always share the kind, so
// (kind, bytes) is the key. The kind is mixed into the first step of the
// hash, and each step is one-to-one, so equal bytes of different kinds never
// share a hash: the slot keeps the hash and the bytes. Short keys sit inside
// the slot itself, two slots to a cache line: the queries hand out fresh str
// objects, and a dict lookup would chase the stored key and value as well.
class NameIndex {
public:
    explicit NameIndex(std::size_t count) {
        std::size_t capacity = 16;
        while (capacity * 2 < count * 3) capacity *= 2;
        slots_.assign(capacity, Slot{});
    }

    struct Key {
        const char* bytes;
        std::size_t size;
        std::uint64_t hash;
    };

    // Adds a name; false when it was already there.
    bool add(PyObject* name, StateIndex index) { return add(key_of(name), index); }
    bool add(const Key& key, StateIndex index) {
        if (key.size > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
        Slot& slot = probe(key);
        if (slot.index != no_transition) return false;
        slot.hash = key.hash;
        slot.index = index;
        slot.size = static_cast<std::uint32_t>(key.size);
        if (key.size <= sizeof slot.inline_bytes) {
            std::memcpy(slot.inline_bytes, key.bytes, key.size);
        } else {
            slot.offset = arena_.size();
            arena_.append(key.bytes, key.size);
        }
        return true;
    }

    StateIndex find(PyObject* name) const { return find(key_of(name)); }
    StateIndex find(const Key& key) const { return probe(key).index; }
    // Asks for the key's first slot ahead of its lookup.
    void prefetch(const Key& key) const noexcept {
        __builtin_prefetch(&slots_[static_cast<std::size_t>(key.hash) & (slots_.size() - 1)]);
    }
    struct Slot {
        std::uint64_t hash = 0;
        StateIndex index = no_transition;
        std::uint32_t size = 0;
        union {
            char inline_bytes[16];
            std::size_t offset;
        };
        Slot() : inline_bytes{} {}
    };

public:
    static Key key_of(PyObject* name) {
        const std::uint8_t kind = static_cast<std::uint8_t>(PyUnicode_KIND(name));
        const char* bytes = static_cast<const char*>(PyUnicode_DATA(name));
        const std::size_t size = static_cast<std::size_t>(PyUnicode_GET_LENGTH(name)) * kind;
        std::uint64_t hash = (size * 0x9e3779b97f4a7c15ULL) ^ kind;
        std::size_t at = 0;
        for (; at + 8 <= size; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + at, 8);
            hash = (hash ^ word) * 0xff51afd7ed558ccdULL;
            hash ^= hash >> 32;
        }
        if (at < size) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + at, size - at);
            hash = (hash ^ word) * 0xc4ceb9fe1a85ec53ULL;
            hash ^= hash >> 29;
        }
        return {bytes, size, hash};
    }

private:

    bool matches(const Slot& slot, const Key& key) const noexcept {
        if (slot.hash != key.hash || slot.size != key.size) return false;
        const char* stored = key.size <= sizeof slot.inline_bytes ? slot.inline_bytes : arena_.data() + slot.offset;
        return std::memcmp(stored, key.bytes, key.size) == 0;
    }

    const Slot& probe(const Key& key) const noexcept {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = static_cast<std::size_t>(key.hash) & mask;; at = (at + 1) & mask)
            if (slots_[at].index == no_transition || matches(slots_[at], key)) return slots_[at];
    }
    Slot& probe(const Key& key) noexcept { return const_cast<Slot&>(std::as_const(*this).probe(key)); }

    ReusedVector<Slot> slots_;
    std::string arena_;
};

Object new_list() { return checked(PyList_New(0)); }

// One entry in this many keeps the memory around it (arenas of 1 MiB hold
// 16,384 transition tuples).
constexpr std::size_t entries_per_kept = 2048;

void append(PyObject* list, PyObject* item) {
    if (PyList_Append(list, item) != 0) throw PythonError{};
}

Object bytes_of(const void* data, std::size_t size) {
    return checked(PyBytes_FromStringAndSize(static_cast<const char*>(data), static_cast<Py_ssize_t>(size)));
}

// array('i', [-1]) * count.
Object no_transition_array(std::size_t count) {
    Object module = checked(PyImport_ImportModule("array"));
    Object one = checked(PyObject_CallMethod(module.ptr(), "array", "s(i)", "i", no_transition));
    static_assert(sizeof(int) == sizeof(StateIndex));
    return checked(PySequence_Repeat(one.ptr(), static_cast<Py_ssize_t>(count)));
}

// A writable view of an object's buffer, released with the view.
class WritableBuffer {
public:
    explicit WritableBuffer(PyObject* object) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0) throw PythonError{};
    }
    WritableBuffer(const WritableBuffer&) = delete;
    WritableBuffer& operator=(const WritableBuffer&) = delete;
    ~WritableBuffer() { PyBuffer_Release(&view_); }
    void* data() const noexcept { return view_.buf; }

private:
    Py_buffer view_{};
};

}  // namespace

Object read_instance(PyObject* instance, PyObject* keep) {
    Object names = checked_list(call_query(instance, "get_states"), "get_states");
    Object initial_name = checked(PyObject_GetAttrString(instance, "initial_state"));
    checked_text(initial_name.ptr(), "initial_state");

    // State name -> index, the initial state appended when it is not a state.
    const Py_ssize_t listed = PyList_GET_SIZE(names.ptr());
    NameIndex index(static_cast<std::size_t>(listed) + 1);
    {
        // All keys first, so that each slot can be loaded some names ahead.
        std::vector<NameIndex::Key> keys(static_cast<std::size_t>(listed));
        for (std::size_t i = 0; i < keys.size(); ++i)
            keys[i] = NameIndex::key_of(checked_text(PyList_GET_ITEM(names.ptr(), static_cast<Py_ssize_t>(i)), "get_states"));
        constexpr std::size_t ahead = 8;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (i + ahead < keys.size()) index.prefetch(keys[i + ahead]);
            if (!index.add(keys[i], static_cast<StateIndex>(i))) {
                PyErr_SetString(PyExc_ValueError, "get_states() gave a name twice");
                throw PythonError{};
            }
        }
    }
    const bool initial_listed = !index.add(initial_name.ptr(), static_cast<StateIndex>(listed));
    if (!initial_listed) append(names.ptr(), initial_name.ptr());
    const auto state_count = static_cast<std::size_t>(PyList_GET_SIZE(names.ptr()));
    if (state_count > 0x7fffffff) throw std::bad_alloc();
    auto index_of = [&](PyObject* name, const char* query) -> std::size_t {
        const StateIndex found = index.find(checked_text(name, query));
        if (found == no_transition) {
            PyErr_Format(PyExc_ValueError, "%s() names an unknown state %R", query, name);
            throw PythonError{};
        }
        return static_cast<std::size_t>(found);
    };

    // One-character members are the columns; the others are kept aside.
    Object alphabet = checked_list(call_query(instance, "get_alphabet"), "get_alphabet");
    Object extra_alphabet = new_list();
    std::vector<Py_UCS4> symbols;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(alphabet.ptr()); ++i) {
        PyObject* member = checked_text(PyList_GET_ITEM(alphabet.ptr(), i), "get_alphabet");
        if (PyUnicode_GET_LENGTH(member) == 1)
            symbols.push_back(PyUnicode_READ_CHAR(member, 0));
        else
            append(extra_alphabet.ptr(), member);
    }
    std::sort(symbols.begin(), symbols.end());
    const ColumnLookup columns(symbols);
    const std::size_t k = symbols.size();

    // The table is made as the array('i') the toolkit keeps, filled with
    // -1 by the array itself, and written through its buffer: no copy.
    Object targets = no_transition_array(state_count * k);
    WritableBuffer table_buffer(targets.ptr());
    auto* table = static_cast<StateIndex*>(table_buffer.data());
    {
        CollectorPause pause;
        Object transitions = checked_list(call_query(instance, "get_transitions"), "get_transitions");
        const auto count = static_cast<std::size_t>(PyList_GET_SIZE(transitions.ptr()));
        // A query may hand out one str object per state, shared by every
        // entry of its result: up to one address per state is remembered,
        // and a name met again is known by its address alone.
        AddressMap<StateIndex> addresses(state_count + 16);
        // A name first met is checked to be text and looked up by content;
        // a known address needs no look at the object at all.
        auto resolve_new = [&](PyObject* object) __attribute__((noinline)) {
            const StateIndex state = index.find(checked_text(object, "get_transitions"));
            if (state == no_transition) {
                PyErr_Format(PyExc_ValueError, "get_transitions() names an unknown state %R", object);
                throw PythonError{};
            }
            addresses.remember(object, state);
            return static_cast<std::size_t>(state);
        };
        auto resolve = [&](PyObject* object) __attribute__((always_inline)) {
            const StateIndex* known = addresses.find(object);
            return known != nullptr ? static_cast<std::size_t>(*known) : resolve_new(object);
        };
        // A result shares one object per symbol too: columns by address,
        // the list holding every symbol alive while it is read.
        struct SymbolSlot {
            PyObject* object = nullptr;
            std::int32_t column = -1;
        };
        std::array<SymbolSlot, 64> symbol_slots{};
        auto column_of = [&](PyObject* symbol) __attribute__((always_inline)) {
            SymbolSlot& slot = symbol_slots[(reinterpret_cast<std::uintptr_t>(symbol) >> 4) & 63];
            if (slot.object == symbol) return static_cast<std::size_t>(slot.column);
            checked_text(symbol, "get_transitions");
            const std::int32_t column = PyUnicode_GET_LENGTH(symbol) == 1 ? columns.column(PyUnicode_READ_CHAR(symbol, 0)) : -1;
            if (column < 0) {
                PyErr_Format(PyExc_ValueError, "get_transitions() gives the symbol %R outside the alphabet", symbol);
                throw PythonError{};
            }
            slot = {symbol, column};
            return static_cast<std::size_t>(column);
        };
        // The entries are read some ahead of their use, their tuples loaded
        // further ahead, and their names' slots asked for as they are read:
        // the objects are scattered over the heap, and each would otherwise
        // be one memory wait. The target's own object is asked for too: it
        // is then at hand when the list is freed, which touches every name.
        struct Entry {
            PyObject* origin;
            PyObject* symbol;
            PyObject* target;
        };
        constexpr std::size_t ahead = 16;
        std::array<Entry, ahead> ring;
        auto read_entry = [&](std::size_t i) __attribute__((always_inline)) {
            if (i + ahead < count) __builtin_prefetch(PyList_GET_ITEM(transitions.ptr(), static_cast<Py_ssize_t>(i + ahead)));
            PyObject* tuple = PyList_GET_ITEM(transitions.ptr(), static_cast<Py_ssize_t>(i));
            if (!PyTuple_CheckExact(tuple) || PyTuple_GET_SIZE(tuple) != 3) {
                PyErr_SetString(PyExc_TypeError, "get_transitions() gave an entry that is not a 3-tuple");
                throw PythonError{};
            }
            Entry& entry = ring[i % ahead];
            entry = {PyTuple_GET_ITEM(tuple, 0), PyTuple_GET_ITEM(tuple, 1), PyTuple_GET_ITEM(tuple, 2)};
            addresses.prefetch(entry.origin);
            addresses.prefetch(entry.target);
            __builtin_prefetch(entry.target);
        };
        for (std::size_t i = 0; i < std::min(ahead, count); ++i) read_entry(i);
        // Entries often come grouped by origin: the previous one is kept.
        PyObject* previous_origin = nullptr;
        std::size_t origin = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const Entry entry = ring[i % ahead];
            if (i + ahead < count) read_entry(i + ahead);
            if (entry.origin != previous_origin) {
                origin = resolve(entry.origin);
                previous_origin = entry.origin;
            }
            const std::size_t column = column_of(entry.symbol);
            table[origin * k + column] = static_cast<StateIndex>(resolve(entry.target));
        }
        // A few entries kept alive keep the memory of the rest mapped: the
        // allocator gives each arena back to the system once its last block
        // is freed, and the next read would have its pages cleared again.
        if (keep != nullptr)
            for (std::size_t i = 0; i < count; i += entries_per_kept)
                append(keep, PyList_GET_ITEM(transitions.ptr(), static_cast<Py_ssize_t>(i)));
    }

    Object finals = checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(state_count)));
    char* final_flags = PyByteArray_AS_STRING(finals.ptr());
    std::fill(final_flags, final_flags + state_count, 0);
    Object extra_finals = new_list();
    Object final_names = checked_list(call_query(instance, "get_finals"), "get_finals");
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(final_names.ptr()); ++i) {
        PyObject* name = checked_text(PyList_GET_ITEM(final_names.ptr(), i), "get_finals");
        const StateIndex found = index.find(name);
        if (found != no_transition)
            final_flags[found] = 1;
        else
            append(extra_finals.ptr(), name);
    }

    std::u32string symbol_text(symbols.begin(), symbols.end());
    Object symbol_string = checked(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, symbol_text.data(), static_cast<Py_ssize_t>(k)));
    const std::size_t initial = index_of(initial_name.ptr(), "initial_state");
    return checked(Py_BuildValue("(OOOnOOOO)", symbol_string.ptr(), targets.ptr(), finals.ptr(),
                                 static_cast<Py_ssize_t>(initial), names.ptr(), extra_alphabet.ptr(), extra_finals.ptr(),
                                 initial_listed ? Py_True : Py_False));
}

Object build_instance(PyObject* cls, PyObject* given_names, PyObject* symbols, const DenseView& automaton,
                      PyObject* extra_alphabet, PyObject* extra_finals, bool initial_listed) {
    const std::size_t n = automaton.state_count(), k = automaton.symbol_count;
    std::vector<Object> names;
    names.reserve(n);
    if (given_names == Py_None) {
        for (std::size_t i = 0; i < n; ++i) names.push_back(checked(PyUnicode_FromFormat("q%zu", i)));
    } else {
        if (!PyList_Check(given_names) || static_cast<std::size_t>(PyList_GET_SIZE(given_names)) != n)
            throw InvalidArgument("names must be a list with one name per state");
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* name = PyList_GET_ITEM(given_names, static_cast<Py_ssize_t>(i));
            if (!PyUnicode_Check(name)) throw InvalidArgument("every state name must be a str");
            names.push_back(Object::borrow(morvane::Handle(name)));
        }
    }
    if (!PyUnicode_Check(symbols) || static_cast<std::size_t>(PyUnicode_GET_LENGTH(symbols)) != k)
        throw InvalidArgument("symbols must be a str with one character per column");

    Object states = checked(PySet_New(nullptr));
    for (const Object& name : names)
        if (PySet_Add(states.ptr(), name.ptr()) != 0) throw PythonError{};
    if (static_cast<std::size_t>(PySet_GET_SIZE(states.ptr())) != n) throw InvalidArgument("the state names are not distinct");
    PyObject* initial_name = names[static_cast<std::size_t>(automaton.initial)].ptr();
    if (!initial_listed && PySet_Discard(states.ptr(), initial_name) < 0) throw PythonError{};

    std::vector<Object> symbol_strings;
    Object alphabet = checked(PySet_New(extra_alphabet));
    for (std::size_t column = 0; column < k; ++column) {
        symbol_strings.push_back(checked(PyUnicode_Substring(symbols, static_cast<Py_ssize_t>(column), static_cast<Py_ssize_t>(column + 1))));
        if (PySet_Add(alphabet.ptr(), symbol_strings.back().ptr()) != 0) throw PythonError{};
    }
    Object finals = checked(PySet_New(extra_finals));
    for (std::size_t i = 0; i < n; ++i)
        if (automaton.finals[i] && PySet_Add(finals.ptr(), names[i].ptr()) != 0) throw PythonError{};

    Object instance = checked(PyObject_CallFunctionObjArgs(cls, states.ptr(), alphabet.ptr(), initial_name, finals.ptr(), nullptr));
    // The method descriptor of the class, called with the instance first:
    // the plain public method without a bound-method object per call.
    Object add_transition = checked(PyObject_GetAttrString(cls, "add_transition"));
    PyObject* arguments[4] = {instance.ptr(), nullptr, nullptr, nullptr};
    const std::size_t share = (n + target_passes(n, k) - 1) / target_passes(n, k);
    for (std::size_t first = 0; first < n; first += share) {
        for (std::size_t state = 0; state < n; ++state) {
            arguments[1] = names[state].ptr();
            for (std::size_t column = 0; column < k; ++column) {
                const StateIndex target = automaton.target(state, column);
                // Below `first`, the difference wraps around past the share.
                if (target == no_transition || static_cast<std::size_t>(target) - first >= share) continue;
                arguments[2] = symbol_strings[column].ptr();
                arguments[3] = names[static_cast<std::size_t>(target)].ptr();
                checked(PyObject_Vectorcall(add_transition.ptr(), arguments, 4, nullptr));
            }
        }
    }
    return instance;
}

Object dense_bytes(const Dense& automaton) {
    Object targets = bytes_of(automaton.targets.data(), automaton.targets.size() * sizeof(StateIndex));
    Object finals = checked(PyByteArray_FromStringAndSize(reinterpret_cast<const char*>(automaton.finals.data()),
                                                          static_cast<Py_ssize_t>(automaton.finals.size())));
    return checked(PyTuple_Pack(2, targets.ptr(), finals.ptr()));
}

}  // namespace morvane_tools
