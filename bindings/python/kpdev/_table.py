"""The export table of the library (src/api/exports.tsv) read into Python:
every exported function with its ordinal, argument kinds and the room each
output needs.  The table's own comment describes its columns and the room
expressions evaluated here."""

import re
from collections import namedtuple

Export = namedtuple("Export", "name ordinal entry module closed arguments rooms")
Argument = namedtuple("Argument", "kind name")

# The C type behind each argument kind.
C_TYPES = {
    "int": "int",
    "uint": "unsigned int",
    "float": "float",
    "text": "const char*",
    "hex": "const char*",
    "out": "char*",
    "int*": "int*",
    "float*": "float*",
    "out[9]": "char**",
}
OUTPUT_KINDS = ("out", "out[9]")
COLUMNS = ["name", "ordinal", "entry", "module", "closed", "arguments", "rooms"]


class TableError(ValueError):
    pass


def _field(text):
    return None if text == "-" else text


def parse(text):
    """The exports of a table text, in the order of its lines."""
    lines = [line for line in text.splitlines() if line and not line.startswith("#")]
    if not lines or lines[0].split("\t") != COLUMNS:
        raise TableError("the first line after the comments must name the columns %s" % COLUMNS)
    exports = []
    for number, line in enumerate(lines[1:], 2):
        fields = line.split("\t")
        if len(fields) != len(COLUMNS):
            raise TableError("line %d has %d fields, not %d" % (number, len(fields), len(COLUMNS)))
        name, ordinal, entry, module, closed, arguments, rooms = fields
        args = []
        for piece in arguments.split(", ") if arguments != "-" else []:
            kind, _, arg = piece.rpartition(" ")
            if kind not in C_TYPES or not arg.isidentifier():
                raise TableError("%s: argument %r is not KIND NAME" % (name, piece))
            args.append(Argument(kind, arg))
        room_map = {}
        for piece in rooms.split("; ") if rooms != "-" else []:
            arg, _, expression = piece.partition("=")
            room_map[arg] = Room(expression)
        exports.append(Export(name, int(ordinal), _field(entry), module,
                              None if closed == "-" else int(closed), tuple(args), room_map))
    return exports


_TOKEN = re.compile(r"\s*(?:(\d+)|([A-Za-z_]\w*)|(.))")


class Room:
    """A room expression, parsed once; evaluate() with a resolver that
    answers (name, how) for how in "value", "pointee" and "length"."""

    def __init__(self, text):
        self.text = text
        self._tokens = [m.groups() for m in _TOKEN.finditer(text) if any(m.groups())]
        self._at = 0
        self._tree = self._sum()
        if self._at != len(self._tokens):
            raise TableError("room %r: unexpected text at token %d" % (text, self._at))
        del self._tokens

    def names(self):
        """(name, how) of every argument the room depends on."""
        found = []

        def walk(node):
            if node[0] == "arg":
                found.append((node[1], node[2]))
            for child in node[1:]:
                if isinstance(child, tuple):
                    walk(child)

        walk(self._tree)
        return found

    def evaluate(self, resolve):
        def run(node):
            op = node[0]
            if op == "num":
                return node[1]
            if op == "arg":
                return resolve(node[1], node[2])
            a, b = run(node[1]), run(node[2])
            if op == "+":
                return a + b
            if op == "-":
                return a - b
            if op == "*":
                return a * b
            if op == "/":
                return a // b
            return max(a, b)

        return run(self._tree)

    # Recursive descent over the tokens: sum := product {(+|-) product},
    # product := atom {(*|/) atom}.
    def _peek(self):
        return self._tokens[self._at] if self._at < len(self._tokens) else (None, None, None)

    def _expect(self, symbol):
        if self._peek()[2] != symbol:
            raise TableError("room %r: %r expected" % (self.text, symbol))
        self._at += 1

    def _binary(self, symbols, operand):
        node = operand()
        while self._peek()[2] in symbols:
            op = self._peek()[2]
            self._at += 1
            node = (op, node, operand())
        return node

    def _sum(self):
        return self._binary(("+", "-"), self._product)

    def _product(self):
        return self._binary(("*", "/"), self._atom)

    def _atom(self):
        number, word, symbol = self._peek()
        self._at += 1
        if number is not None:
            return ("num", int(number))
        if symbol == "(":
            node = self._sum()
            self._expect(")")
            return node
        if symbol == "[":
            name = self._peek()[1]
            self._at += 1
            self._expect("]")
            return ("arg", name, "pointee")
        if word in ("max", "len"):
            self._expect("(")
            if word == "len":
                name = self._peek()[1]
                self._at += 1
                self._expect(")")
                return ("arg", name, "length")
            first = self._sum()
            self._expect(",")
            second = self._sum()
            self._expect(")")
            return ("max", first, second)
        if word is not None:
            return ("arg", word, "value")
        raise TableError("room %r: unexpected %r" % (self.text, symbol))
