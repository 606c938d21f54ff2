"""Walk a mail-submission dialogue (a small SMTP) with a Morvane automaton.

The automaton knows which command may come next; the context data holds what
the server has collected so far (client, sender, recipients). Every step
snapshots (state, data), so a client that takes a command back gets both the
state and the collected data back with one undo(). RSET jumps with
force_state(), which is undoable too.

The data is never changed in place: each command stores a new dict. A
snapshot is a reference to the object that was the data, so mutating that
dict would change the snapshot too, and undo would have nothing to restore.
"""

from morvane import Morvane

# Each command is one symbol of the automaton's alphabet.
COMMANDS = {"HELO": "h", "MAIL": "m", "RCPT": "r", "DATA": "d", "QUIT": "q"}

#   start --HELO--> greeted --MAIL--> sender --RCPT--> recipients --DATA--> sent
#   recipients --RCPT--> recipients      sent --MAIL--> sender      {greeted, sent} --QUIT--> closed
TRANSITIONS = [
    ("start", "h", "greeted"),
    ("greeted", "m", "sender"),
    ("sender", "r", "recipients"),
    ("recipients", "r", "recipients"),
    ("recipients", "d", "sent"),
    ("sent", "m", "sender"),
    ("greeted", "q", "closed"),
    ("sent", "q", "closed"),
]


def build() -> Morvane:
    states = {state for origin, _, target in TRANSITIONS for state in (origin, target)}
    m = Morvane(states, set(COMMANDS.values()), "start", {"closed"})
    for origin, symbol, target in TRANSITIONS:
        m.add_transition(origin, symbol, target)
    m.set_data({"client": None, "from": None, "to": (), "sent": 0})
    return m


def collect(data: dict, verb: str, argument: str) -> dict:
    """The data after an accepted command: always a new dict."""
    if verb == "HELO":
        return {**data, "client": argument}
    if verb == "MAIL":
        return {**data, "from": argument, "to": ()}
    if verb == "RCPT":
        return {**data, "to": (*data["to"], argument)}
    if verb == "DATA":
        return {**data, "sent": data["sent"] + 1}
    return data


def show(m: Morvane) -> str:
    data = m.data
    recipients = ",".join(data["to"]) or "-"
    client, sender = data["client"] or "-", data["from"] or "-"
    return f"{m.current_state:<10} client={client} from={sender} to={recipients} sent={data['sent']}"


def handle(m: Morvane, line: str) -> str:
    """The server's reply to one line of the client."""
    verb, _, argument = line.partition(" ")
    if verb == "UNDO":  # not SMTP: this server lets a client take a command back
        if m.undo():
            return "250 taken back"
        return "503 nothing to take back"
    if verb == "RSET":  # abandon the mail under way: back to 'greeted', keep the client
        m.force_state("greeted")
        m.set_data({**m.data, "from": None, "to": ()})
        return "250 reset"
    symbol = COMMANDS.get(verb)
    if symbol is None:
        return "500 unknown command"
    before = m.data
    if not m.step(symbol):
        # A refused step still pushed a snapshot; drop it so that UNDO takes
        # back the last accepted command.
        m.undo()
        return f"503 not now ({allowed(m)})"
    m.set_data(collect(before, verb, argument))
    return "221 bye" if verb == "QUIT" else "250 ok"


def allowed(m: Morvane) -> str:
    verbs = {symbol: verb for verb, symbol in COMMANDS.items()}
    return ", ".join(verbs[symbol] for symbol in m.available_symbols()) or "nothing"


def main() -> None:
    m = build()
    dialogue = [
        "HELO laptop",
        "DATA",
        "MAIL ana",
        "RCPT bob",
        "RCPT bbo",
        "UNDO",
        "RCPT eve",
        "DATA",
        "MAIL ana",
        "RCPT carl",
        "RSET",
        "UNDO",
        "RSET",
        "QUIT",
    ]
    print("A mail session, one command at a time (C: client, S: server, then the automaton's state and data)")
    print(f"{'':<46}{show(m)}")
    for line in dialogue:
        reply = handle(m, line)
        print(f"C: {line:<12} S: {reply:<26} {show(m)}")
    print(f"\nsession complete: {m.is_accepted()}; {m.history_len()} moves remembered")

    print("\nThe remembered moves, oldest first (state before the move, data then):")
    for state, data in m.get_history():
        print(f"   {state:<10} to={','.join(data['to']) or '-'} sent={data['sent']}")

    print("\nWhole dialogues checked at once with accept(), and where a bad one stops:")
    for verbs in ["HELO MAIL RCPT DATA QUIT", "HELO MAIL RCPT RCPT DATA MAIL RCPT DATA QUIT", "HELO MAIL DATA QUIT"]:
        word = "".join(COMMANDS[verb] for verb in verbs.split())
        verdict = "valid" if m.accept(word) else "invalid"
        print(f"   {verdict:<8} {verbs}")
    m.reset()
    try:
        m.simulate("hmdq")
    except ValueError as error:
        print(f"   simulate('hmdq'): {error}")


if __name__ == "__main__":
    main()
