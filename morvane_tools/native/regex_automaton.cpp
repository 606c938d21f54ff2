// The back half of from_regex: the position automaton that the Python side
// builds from a pattern, made deterministic over classes of characters,
// minimised and spread back over the alphabet's characters.
//
// Positions are numbered 0..n-1, position 0 standing for the start. A
// position accepts a set of classes (one byte per class); a follow edge
// p -> q carries an exclusion, the classes it must not be taken on (edges
// leaving a possessive repeat), as an index into a table of such sets with
// row 0 empty.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "algorithms.hpp"
#include "instances.hpp"
#include "regex_automaton.hpp"

namespace morvane_tools {
namespace {

using Position = std::uint32_t;

struct PositionAutomaton {
    std::size_t class_count = 0;
    std::span<const std::uint8_t> accepts;     // position_count x class_count
    std::span<const std::uint8_t> exclusions;  // exclusion_count x class_count
    std::span<const std::uint8_t> finals;      // position_count
    // follow[p]: (target, exclusion index) pairs
    std::vector<std::vector<std::pair<Position, std::uint32_t>>> follow;

    std::size_t position_count() const noexcept { return finals.size(); }
};

// moves: for position p and class c, the targets reached, stored row after
// row (offsets index p * class_count + c).
struct Moves {
    std::vector<std::uint32_t> offsets;
    std::vector<Position> targets;
};

Moves position_moves(const PositionAutomaton& automaton) {
    const std::size_t k = automaton.class_count;
    const std::size_t n = automaton.position_count();
    Moves moves;
    moves.offsets.assign(n * k + 1, 0);
    auto allowed = [&](Position target, std::uint32_t exclusion, std::size_t c) {
        return automaton.accepts[target * k + c] != 0 && automaton.exclusions[exclusion * k + c] == 0;
    };
    for (std::size_t p = 0; p < n; ++p)
        for (const auto& [target, exclusion] : automaton.follow[p])
            for (std::size_t c = 0; c < k; ++c)
                if (allowed(target, exclusion, c)) ++moves.offsets[p * k + c + 1];
    for (std::size_t i = 0; i < n * k; ++i) moves.offsets[i + 1] += moves.offsets[i];
    moves.targets.resize(moves.offsets[n * k]);
    std::vector<std::uint32_t> next(moves.offsets.begin(), moves.offsets.end() - 1);
    for (std::size_t p = 0; p < n; ++p)
        for (const auto& [target, exclusion] : automaton.follow[p])
            for (std::size_t c = 0; c < k; ++c)
                if (allowed(target, exclusion, c)) moves.targets[next[p * k + c]++] = target;
    return moves;
}

struct SetHash {
    std::size_t operator()(const std::vector<Position>& set) const noexcept {
        std::uint64_t hash = 0xcbf29ce484222325ULL;
        for (const Position p : set) hash = (hash ^ p) * 0x100000001b3ULL;
        return static_cast<std::size_t>(hash ^ (hash >> 29));
    }
};

// The subset construction over classes; nullopt when more than max_states
// sets of positions turn up.
std::optional<Dense> determinize(const PositionAutomaton& automaton, std::size_t max_states) {
    const std::size_t k = automaton.class_count;
    const Moves moves = position_moves(automaton);
    std::unordered_map<std::vector<Position>, StateIndex, SetHash> index;
    std::vector<std::vector<Position>> sets;
    sets.push_back({0});
    index.emplace(sets[0], 0);
    Dense result;
    result.symbol_count = k;
    std::vector<std::uint32_t> stamp(automaton.position_count(), 0);
    std::uint32_t round = 0;
    std::vector<Position> gathered, previous;
    for (std::size_t s = 0; s < sets.size(); ++s) {
        bool final = false;
        for (const Position p : sets[s]) final |= automaton.finals[p] != 0;
        result.finals.push_back(final ? 1 : 0);
        previous.clear();
        StateIndex previous_target = no_transition;
        for (std::size_t c = 0; c < k; ++c) {
            ++round;
            gathered.clear();
            for (const Position p : sets[s]) {
                const std::size_t row = p * k + c;
                for (std::uint32_t i = moves.offsets[row]; i < moves.offsets[row + 1]; ++i) {
                    const Position q = moves.targets[i];
                    if (stamp[q] != round) {
                        stamp[q] = round;
                        gathered.push_back(q);
                    }
                }
            }
            if (gathered.empty()) {
                result.targets.push_back(no_transition);
                continue;
            }
            std::sort(gathered.begin(), gathered.end());
            // A wide class (a negated one, the dot) often sends neighbouring
            // classes to one set: reuse it without a lookup.
            if (gathered != previous) {
                auto [found, added] = index.try_emplace(gathered, static_cast<StateIndex>(sets.size()));
                if (added) {
                    if (sets.size() >= max_states) return std::nullopt;
                    sets.push_back(gathered);
                }
                previous.swap(gathered);
                previous_target = found->second;
            }
            result.targets.push_back(previous_target);
        }
    }
    return result;
}

// The class automaton with one column per alphabet character.
Dense spread(const Dense& by_class, std::span<const std::int32_t> column_class) {
    Dense result;
    result.symbol_count = column_class.size();
    result.finals = by_class.finals;
    result.initial = by_class.initial;
    result.targets.reserve(by_class.state_count() * column_class.size());
    for (std::size_t s = 0; s < by_class.state_count(); ++s)
        for (const std::int32_t c : column_class)
            result.targets.push_back(by_class.targets[s * by_class.symbol_count + static_cast<std::size_t>(c)]);
    return result;
}

std::size_t size_argument(PyObject* object, const char* what) {
    const Py_ssize_t value = PyLong_AsSsize_t(object);
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
    if (value < 0) throw InvalidArgument(std::string(what) + " must not be negative");
    return static_cast<std::size_t>(value);
}

// follow: a list holding, per position, a dict {target position: exclusion index}.
std::vector<std::vector<std::pair<Position, std::uint32_t>>> follow_argument(
    PyObject* object, std::size_t position_count, std::size_t exclusion_count) {
    if (!PyList_Check(object) || static_cast<std::size_t>(PyList_GET_SIZE(object)) != position_count)
        throw InvalidArgument("follow must be a list with one dict per position");
    std::vector<std::vector<std::pair<Position, std::uint32_t>>> follow(position_count);
    for (std::size_t p = 0; p < position_count; ++p) {
        PyObject* edges = PyList_GET_ITEM(object, static_cast<Py_ssize_t>(p));
        if (!PyDict_Check(edges)) throw InvalidArgument("follow must be a list with one dict per position");
        follow[p].reserve(static_cast<std::size_t>(PyDict_GET_SIZE(edges)));
        Py_ssize_t cursor = 0;
        PyObject* key;
        PyObject* value;
        while (PyDict_Next(edges, &cursor, &key, &value)) {
            const std::size_t target = size_argument(key, "a follow target");
            const std::size_t exclusion = size_argument(value, "an exclusion index");
            if (target >= position_count || target == 0) throw InvalidArgument("a follow target is not a position");
            if (exclusion >= exclusion_count) throw InvalidArgument("an exclusion index has no exclusion");
            follow[p].emplace_back(static_cast<Position>(target), static_cast<std::uint32_t>(exclusion));
        }
    }
    return follow;
}

}  // namespace

// regex_automaton(class_count, accepts, exclusions, finals, follow, column_class, max_states)
//   -> (targets bytes, finals bytearray) of the minimal automaton over the
//      alphabet's characters, or None past max_states
PyObject* regex_automaton_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&]() -> Object {
        if (count != 7) {
            PyErr_Format(PyExc_TypeError, "regex_automaton() takes 7 arguments (%zd given)", count);
            throw PythonError{};
        }
        PositionAutomaton automaton;
        automaton.class_count = size_argument(arguments[0], "the class count");
        const BufferView<std::uint8_t> accepts(arguments[1], "accepts"), exclusions(arguments[2], "exclusions"),
            finals(arguments[3], "finals");
        const BufferView<std::int32_t> column_class(arguments[5], "column_class");
        const std::size_t max_states = size_argument(arguments[6], "max_states");
        const std::size_t k = automaton.class_count;
        automaton.accepts = accepts.elements();
        automaton.exclusions = exclusions.elements();
        automaton.finals = finals.elements();
        const std::size_t n = automaton.position_count();
        if (k == 0 || n == 0 || automaton.accepts.size() != n * k || automaton.exclusions.size() % k != 0 ||
            automaton.exclusions.empty())
            throw InvalidArgument("accepts, exclusions and finals do not fit the class count");
        for (const std::int32_t c : column_class.elements())
            if (c < 0 || static_cast<std::size_t>(c) >= k) throw InvalidArgument("column_class names no class");
        automaton.follow = follow_argument(arguments[4], n, automaton.exclusions.size() / k);
        const std::optional<Dense> by_class = determinize(automaton, max_states);
        if (!by_class) return Object::none();
        return dense_bytes(spread(minimize(by_class->view()), column_class.elements()));
    });
}

}  // namespace morvane_tools
