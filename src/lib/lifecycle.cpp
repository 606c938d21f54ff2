#include "lib/lifecycle.hpp"

#include <array>
#include <tuple>
#include <vector>

#include "binding/frame.hpp"

namespace morvane::lib {

using binding::Instance;

binding::Signature constructor_signature{"__new__", {"states", "alphabet", "initial", "finals"}};

namespace {

// Releasing an instance releases its context data and snapshots, which may
// be the last reference to another instance, and so on: a long chain would
// recurse once per link and overflow the C stack. Past a fixed depth the
// release is deferred to a list that the outermost release works through,
// as the interpreter's own containers do with their "trashcan".
constexpr int kMaxNestedReleases = 50;
thread_local int nested_releases = 0;
thread_local std::vector<PyObject*> deferred_releases;

void destroy(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Instance& instance = Instance::of(self);
    // An instance made without the constructor holds zeroed memory, no record.
    if (instance.borrow.built()) instance.automaton().~Automaton();
    auto free_instance = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_instance(self);
    Py_DECREF(type);
}

}  // namespace

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return binding::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        std::array<PyObject*, 4> bound;
        if (!binding::bind(constructor_signature, args, kwargs, bound.data())) return nullptr;
        // A keyword dict may be the only owner of its values, and converting
        // a set runs the set's own Python code, which can empty that dict:
        // the call keeps a reference of its own to every argument.
        const std::array<Object, 4> held{Object::borrow(Handle(bound[0])), Object::borrow(Handle(bound[1])),
                                         Object::borrow(Handle(bound[2])), Object::borrow(Handle(bound[3]))};
        std::tuple<std::vector<std::string>, std::vector<std::string>, Text, std::vector<std::string>> values;
        if (!binding::convert_arguments(constructor_signature, bound.data(), values, std::make_index_sequence<4>{}))
            return nullptr;
        auto& [states, alphabet, initial, finals] = values;
        Automaton record(std::move(states), std::move(alphabet), std::string(initial), std::move(finals));

        auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = allocate(type, 0);
        if (!self) return nullptr;  // the record is released on the way out
        Instance& instance = Instance::of(self);
        new (instance.record) Automaton(std::move(record));
        new (&instance.borrow) binding::BorrowFlag();
        return self;
    });
}

void deallocate(PyObject* self) noexcept {
    if (nested_releases >= kMaxNestedReleases) {
        try {
            deferred_releases.push_back(self);
            return;
        } catch (...) {
            // No memory to defer with: release it here, one level deeper.
        }
    }
    ++nested_releases;
    destroy(self);
    if (nested_releases == 1) {
        while (!deferred_releases.empty()) {
            PyObject* next = deferred_releases.back();
            deferred_releases.pop_back();
            destroy(next);
        }
    }
    --nested_releases;
}

}  // namespace morvane::lib
