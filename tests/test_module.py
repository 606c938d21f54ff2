"""The module object, the class object and its registration table."""

import importlib.util
import re
import sys
import weakref

import pytest

import morvane

Morvane = morvane.Morvane

# Method names and parameter names are checked against the stub by
# ./dev typecheck (stubtest and tests/typing/check_signatures.py), which
# compares docstrings only word by word: here, the docstrings byte for byte
# (every method not named here has none) and the form of the text signatures.
DOCSTRINGS = {
    "get_transitions": "Retorna todas as transições como tuplas (origem, símbolo, destino).",
    "available_symbols": "Retorna os símbolos que possuem transição definida a partir do estado atual.",
    "history_len": "Quantidade de entradas atualmente registradas no histórico.",
    "peek_history": "Observa a última entrada do histórico (estado, dado) sem removê-la.",
    "clear_history": "Limpa o histórico de (estado, dado) acumulado, sem alterar estado ou dado atuais.",
    "simulate": "Simula o consumo de uma cadeia a partir do estado atual SEM alterar o estado\n"
    "do autômato, retornando o caminho de estados percorrido. Falha se, em algum\n"
    "ponto, não houver transição definida para o símbolo lido.",
    "set_data": "Substitui o dado de contexto diretamente (alias explícito de update_context).",
    "clear_data": "Zera o dado de contexto, sem afetar o estado atual do autômato.",
}
METHODS = sorted(name for name, value in vars(Morvane).items() if not name.startswith("_") and callable(value))
PROPERTIES = ["current_state", "initial_state", "data"]


def test_module_attributes():
    assert morvane.__all__ == ["Morvane"]
    assert morvane.__doc__ == ""
    assert morvane.Morvane is Morvane
    assert issubclass(morvane.PanicException, BaseException)
    assert not issubclass(morvane.PanicException, Exception)


def test_class_identity_and_signature():
    assert (Morvane.__name__, Morvane.__qualname__, Morvane.__module__) == ("Morvane", "Morvane", "builtins")
    assert Morvane.__text_signature__ == "(states, alphabet, initial, finals)"
    assert Morvane.__doc__ == ""
    assert Morvane.__bases__ == (object,)
    assert set(DOCSTRINGS) <= set(METHODS)


@pytest.mark.parametrize("name", METHODS)
def test_method_signature_and_doc(name):
    method = getattr(Morvane, name)
    # "$self" first, then plain names: the form inspect and stubtest read.
    assert re.fullmatch(r"\(\$self(, [a-z_]+)*\)", method.__text_signature__ or ""), method.__text_signature__
    assert method.__doc__ == DOCSTRINGS.get(name)


@pytest.mark.parametrize("name", PROPERTIES)
def test_properties_are_read_only(abc, name):
    assert getattr(Morvane, name).__doc__ is None
    before = getattr(abc, name)
    with pytest.raises(AttributeError):
        setattr(abc, name, "x")
    with pytest.raises(AttributeError):
        delattr(abc, name)
    assert getattr(abc, name) == before


def test_no_dict_no_weakrefs_no_subclasses(abc):
    with pytest.raises(AttributeError):
        abc.foo = 1
    assert not hasattr(abc, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(abc)
    with pytest.raises(TypeError):
        type("Sub", (Morvane,), {})
    Morvane.extra_attribute = 7  # the class itself stays open
    try:
        assert abc.extra_attribute == 7
    finally:
        del Morvane.extra_attribute


def test_arguments_to_methods_without_parameters_are_refused(abc):
    abc.step("a")
    with pytest.raises(TypeError):
        abc.reset(1)
    with pytest.raises(TypeError):
        abc.get_states(x=1)
    assert abc.current_state == "q1" and abc.history_len() == 1


def test_identity_equality_and_hash():
    first, second = (Morvane({"q"}, {"a"}, "q", {"q"}) for _ in range(2))
    assert first == first and first != second
    assert hash(first) == object.__hash__(first) and hash(first) != hash(second)


def test_reimport_reuses_the_class(monkeypatch):
    monkeypatch.delitem(sys.modules, "morvane")
    fresh = importlib.import_module("morvane")
    assert fresh is not morvane
    assert fresh.Morvane is Morvane and fresh.__all__ == ["Morvane"]
    assert fresh.PanicException is morvane.PanicException


def test_execution_into_another_module_object():
    found = importlib.util.find_spec("morvane")
    module = importlib.util.module_from_spec(found)
    module.__all__ = ["Other"]
    found.loader.exec_module(module)
    assert module.__all__ == ["Other", "Morvane"] and module.Morvane is Morvane
    module = importlib.util.module_from_spec(found)
    module.__all__ = ("Other",)
    with pytest.raises(TypeError):
        found.loader.exec_module(module)


def test_isolated_subinterpreters_refuse_the_module():
    try:
        import _interpreters as interpreters
    except ImportError:
        interpreters = pytest.importorskip("_xxsubinterpreters")
    script = (
        "import importlib.util\nassert importlib.util.find_spec('morvane')\n"
        "try:\n    import morvane\nexcept ImportError:\n    pass\nelse:\n    raise AssertionError('imported')\n"
    )
    interpreter = interpreters.create()
    try:
        failure = interpreters.run_string(interpreter, script)  # 3.13: returns the failure
    except Exception as error:  # noqa: BLE001 - 3.12 raises it
        failure = error
    finally:
        interpreters.destroy(interpreter)
    assert failure is None
