// The module morvane: its entry point, its execution step and the class
// Morvane with its registration table.
#include "binding/frame.hpp"
#include "lib/lifecycle.hpp"

namespace morvane::lib {

using binding::Signature;

// ---- Registration table ------------------------------------------------------
// One row per method or property. The engine function decides the borrow
// (const: shared) and the conversions; the row adds the name, the calling
// convention, the parameter names and the docstring.

namespace {

template <auto Op, Signature& S>
PyMethodDef with_parameters(const char* doc) {
    return {S.method, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&binding::method_entry<Op, S>)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}

template <auto Op>
PyMethodDef without_parameters(const char* name, const char* doc) {
    return {name, &binding::plain_entry<Op, PyObject>, METH_NOARGS, doc};
}

template <auto Op>
PyGetSetDef property(const char* name) {
    return {name, &binding::plain_entry<Op, void>, nullptr, nullptr, nullptr};
}

Signature add_transition{"add_transition", {"of", "with", "for_"}};
Signature remove_transition{"remove_transition", {"of", "with"}};
Signature has_transition{"has_transition", {"of", "with"}};
Signature step{"step", {"symbol"}};
Signature force_state{"force_state", {"state_id"}};
Signature accept{"accept", {"st"}};
Signature simulate{"simulate", {"input"}};
Signature is_final{"is_final", {"state"}};
Signature set_data{"set_data", {"new_data"}};
Signature update_context{"update_context", {"new_data"}};
Signature transform_data{"transform_data", {"data_type_result", "operation", "assert_val"}};

PyGetSetDef properties[] = {
    property<&Automaton::current_state>("current_state"),
    property<&Automaton::initial_state>("initial_state"),
    property<&Automaton::data>("data"),
    {},
};

PyMethodDef methods[] = {
    // record and queries
    without_parameters<&Automaton::states>("get_states", "get_states($self)\n--\n\n"),
    without_parameters<&Automaton::alphabet>("get_alphabet", "get_alphabet($self)\n--\n\n"),
    without_parameters<&Automaton::finals>("get_finals", "get_finals($self)\n--\n\n"),
    // transition table
    with_parameters<&Automaton::add_transition, add_transition>("add_transition($self, of, with, for_)\n--\n\n"),
    with_parameters<&Automaton::remove_transition, remove_transition>("remove_transition($self, of, with)\n--\n\n"),
    with_parameters<&Automaton::has_transition, has_transition>("has_transition($self, of, with)\n--\n\n"),
    without_parameters<&Automaton::transitions>(
        "get_transitions",
        "get_transitions($self)\n--\n\nRetorna todas as transições como tuplas (origem, símbolo, destino)."),
    without_parameters<&Automaton::available_symbols>(
        "available_symbols",
        "available_symbols($self)\n--\n\nRetorna os símbolos que possuem transição definida a partir do estado atual."),
    // stepping and history
    with_parameters<&Automaton::step, step>("step($self, symbol)\n--\n\n"),
    with_parameters<&Automaton::force_state, force_state>("force_state($self, state_id)\n--\n\n"),
    without_parameters<&Automaton::undo>("undo", "undo($self)\n--\n\n"),
    without_parameters<&Automaton::reset>("reset", "reset($self)\n--\n\n"),
    without_parameters<&Automaton::history>("get_history", "get_history($self)\n--\n\n"),
    without_parameters<&Automaton::history_len>(
        "history_len", "history_len($self)\n--\n\nQuantidade de entradas atualmente registradas no histórico."),
    without_parameters<&Automaton::peek_history>(
        "peek_history", "peek_history($self)\n--\n\nObserva a última entrada do histórico (estado, dado) sem removê-la."),
    without_parameters<&Automaton::clear_history>(
        "clear_history",
        "clear_history($self)\n--\n\nLimpa o histórico de (estado, dado) acumulado, sem alterar estado ou dado atuais."),
    // acceptance and simulation
    with_parameters<&Automaton::accept, accept>("accept($self, st)\n--\n\n"),
    with_parameters<&Automaton::simulate, simulate>(
        "simulate($self, input)\n--\n\nSimula o consumo de uma cadeia a partir do estado atual SEM alterar o estado\n"
        "do autômato, retornando o caminho de estados percorrido. Falha se, em algum\n"
        "ponto, não houver transição definida para o símbolo lido."),
    with_parameters<&Automaton::is_final, is_final>("is_final($self, state)\n--\n\n"),
    without_parameters<&Automaton::is_accepted>("is_accepted", "is_accepted($self)\n--\n\n"),
    // context data
    with_parameters<&Automaton::set_data, set_data>(
        "set_data($self, new_data)\n--\n\nSubstitui o dado de contexto diretamente (alias explícito de update_context)."),
    with_parameters<&Automaton::update_context, update_context>("update_context($self, new_data)\n--\n\n"),
    without_parameters<&Automaton::clear_data>(
        "clear_data", "clear_data($self)\n--\n\nZera o dado de contexto, sem afetar o estado atual do autômato."),
    // context typing
    with_parameters<&Automaton::transform_data, transform_data>(
        "transform_data($self, data_type_result, operation, assert_val)\n--\n\n"),
    without_parameters<&Automaton::context_type>("get_context_type", "get_context_type($self)\n--\n\n"),
    {},
};

PyType_Slot class_slots[] = {
    {Py_tp_doc, const_cast<char*>("Morvane(states, alphabet, initial, finals)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(&construct)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&deallocate)},
    {Py_tp_methods, methods},
    {Py_tp_getset, properties},
    {0, nullptr},
};

// Not a base type, no cyclic GC, no instance dict, no weak references.
PyType_Spec class_spec = {
    "builtins.Morvane",  // the full name is fixed by the module's contract with its callers
    static_cast<int>(sizeof(binding::Instance)),
    0,
    Py_TPFLAGS_DEFAULT,
    class_slots,
};

// ---- The class, once per process ---------------------------------------------

PyObject* morvane_class = nullptr;  // lives until the process ends

// Keyword names compared by identity in every call, interned once here.
bool intern_parameter_names() noexcept {
    for (Signature* signature : {&constructor_signature, &add_transition, &remove_transition, &has_transition, &step,
                                 &force_state, &accept, &simulate, &is_final, &set_data, &update_context,
                                 &transform_data})
        if (!binding::intern_names(*signature)) return false;
    return true;
}

PyObject* get_or_create_class() noexcept {
    if (morvane_class) return morvane_class;
    if (!intern_parameter_names() || !binding::create_panic_exception_type()) return nullptr;
    morvane_class = PyType_FromSpec(&class_spec);
    if (!morvane_class) {
        PyObject* cause = PyErr_GetRaisedException();
        PyErr_SetString(PyExc_RuntimeError, "An error occurred while initializing class Morvane");
        PyObject* error = PyErr_GetRaisedException();
        PyException_SetCause(error, cause);  // steals `cause`
        PyErr_SetRaisedException(error);
    }
    return morvane_class;
}

// ---- Execution step ------------------------------------------------------------

int execute(PyObject* module) noexcept {
    return binding::guarded<int>(-1, [&]() -> int {
        if (!PyModule_Check(module)) {
            python::raise_cast_error(module, "module");
            return -1;
        }
        PyObject* cls = get_or_create_class();
        if (!cls) return -1;

        PyObject* namespace_dict = PyModule_GetDict(module);  // borrowed
        const Object all_name = Object::steal(PyUnicode_InternFromString("__all__"));
        if (!all_name) return -1;
        Object all = Object::borrow(Handle(PyDict_GetItemWithError(namespace_dict, all_name.ptr())));
        if (!all) {
            if (PyErr_Occurred()) return -1;
            all = Object::steal(PyList_New(0));
            if (!all || PyDict_SetItem(namespace_dict, all_name.ptr(), all.ptr()) < 0) return -1;
        }
        if (!PyList_Check(all.ptr())) {
            python::raise_cast_error(all.ptr(), "list");
            return -1;
        }
        const Object name = Object::steal(PyUnicode_FromString("Morvane"));
        if (!name || PyList_Append(all.ptr(), name.ptr()) < 0) return -1;
        if (PyModule_AddObjectRef(module, "Morvane", cls) < 0) return -1;
        // Where callers can catch an internal failure; not part of __all__.
        if (PyModule_AddObjectRef(module, "PanicException", binding::panic_exception_type()) < 0) return -1;
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&execute)},
    // One class object serves the whole process, so the module cannot be
    // given to interpreters that keep their objects apart.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "morvane",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace morvane::lib

PyMODINIT_FUNC PyInit_morvane() { return PyModuleDef_Init(&morvane::lib::module_definition); }
