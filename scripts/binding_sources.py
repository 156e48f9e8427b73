"""The sources of the .NET and Java bindings that restate the library's
interface, written from the export table and from kp_dev.h's result tables:

  bindings/dotnet/src/Exports.g.cs            the 102 declarations (Native) and
                                              their checked forms (Exports)
  bindings/dotnet/src/Results.g.cs            result names, texts and constants
  bindings/java/src/kpdev/KpDevLibrary.java   the 102 declarations (JNA)
  bindings/java/src/kpdev/Exports.java        their checked forms
  bindings/java/src/kpdev/Results.java        result names, texts and constants

scripts/export_table.py --write writes them and the ExportTable test fails
when a file differs from what is written here, so a binding cannot drift
from the table: names, argument counts, kinds and rooms come from one place.

A checked form refuses, before the library is called, what C would
overrun or misread: a null reference, a text input without its NUL, hex
that is not upper-case with an even length, a negative count a room is
computed from, and an output smaller than its room (the room expression of
the table, turned into code here).
"""

import re

GENERATED_BY = "Written by scripts/export_table.py --write from src/api/exports.tsv and include/kp_dev.h;"
CHECKED_BY = "the ExportTable test fails when this file differs. Do not edit."


def header_switch(header, function):
    """[(code, text)] of a switch in kp_dev.h, in order, and its default."""
    start = header.index("static inline const char* %s(int code)" % function)
    body = header[start:header.index("\n}\n", start)]
    cases = [(int(code), text) for code, text in re.findall(r'case (-?\d+):\s*return "([^"]*)";', body)]
    default = re.search(r'default:\s*return ("([^"]*)"|0)', body)
    return cases, (default.group(2) if default.group(2) is not None else None)


def result_constants(header):
    """[(name, value)] of the result code macros, in header order."""
    found = []
    for name, value in re.findall(r"^#define (KP_DEV_(?:OK|ERR_\w+|NOTHING_YET|CARD_STATUS|CAPACITY_EXCEEDED))"
                                  r" \(?(-?\d+)\)?", header, re.M):
        found.append((name, int(value)))
    return found


# Names of the table that are keywords of a language are written as that
# language escapes them (C#: @out).
CS_KEYWORDS = set("""abstract as base bool break byte case catch char checked class const continue decimal default
delegate do double else enum event explicit extern false finally fixed float for foreach goto if implicit in int
interface internal is lock long namespace new null object operator out override params private protected public
readonly ref return sbyte sealed short sizeof stackalloc static string struct switch this throw true try typeof uint
ulong unchecked unsafe ushort using virtual void volatile while""".split())


def cs_name(name):
    return "@" + name if name in CS_KEYWORDS else name


def room_code(room, language):
    """A room expression as a 64-bit integer expression of the arguments."""
    def emit(node):
        op = node[0]
        if op == "num":
            return "%dL" % node[1]
        if op == "arg":
            name, how = (cs_name(node[1]) if language == "cs" else node[1]), node[2]
            if how == "value":
                return "(long) %s" % name
            if how == "pointee":
                return "(long) %s" % (name if language == "cs" else name + ".getValue()")
            return "Check.Length(%s)" % name if language == "cs" else "Check.length(%s)" % name
        if op == "max":
            return "%s(%s, %s)" % ("Math.Max" if language == "cs" else "Math.max", emit(node[1]), emit(node[2]))
        return "(%s %s %s)" % (emit(node[1]), op, emit(node[2]))

    return emit(room._tree)  # pylint: disable=protected-access


def _room_inputs(export):
    """{name: how} of the arguments some room of export is computed from."""
    found = {}
    for room in export.rooms.values():
        for name, how in room.names():
            found[name] = how
    return found


# ---- C#

CS_TYPES = {"int": "int", "uint": "uint", "float": "float", "text": "byte[]", "hex": "string", "out": "byte[]",
            "int*": "ref int", "float*": "ref float"}


def _cs_raw_parameter(kind, name):
    name = cs_name(name)
    if kind == "hex":
        return "[MarshalAs(UnmanagedType.LPStr)] string %s" % name
    if kind == "out[9]":
        return "IntPtr[] %s" % name
    return "%s %s" % (CS_TYPES[kind], name)


def _cs_checked_parameter(kind, name):
    name = cs_name(name)
    return "%s %s" % ("byte[][]" if kind == "out[9]" else CS_TYPES[kind], name)


def _cs_argument(kind, name):
    name = cs_name(name)
    return ("ref " + name) if kind in ("int*", "float*") else name


def _checks(export, language):
    """The statements that check the arguments of export, in argument order,
    then its rooms."""
    cs = language == "cs"
    fn = '"%s"' % export.name
    inputs = _room_inputs(export)
    lines = []
    for kind, table_name in export.arguments:
        arg = '"%s"' % table_name
        name = cs_name(table_name) if cs else table_name
        if kind == "text":
            lines.append("Check.%s(%s, %s, %s);" % ("Text" if cs else "text", fn, arg, name))
        elif kind == "hex":
            lines.append("Check.%s(%s, %s, %s);" % ("Hex" if cs else "hex", fn, arg, name))
        elif kind == "out" and inputs.get(table_name) == "length":
            lines.append("Check.%s(%s, %s, %s);" % ("Terminated" if cs else "terminated", fn, arg, name))
        elif kind in ("out", "out[9]"):
            lines.append("Check.%s(%s, %s, %s);" % ("NotNull" if cs else "notNull", fn, arg, name))
        elif kind in ("int*", "float*") and not cs:
            lines.append("Check.notNull(%s, %s, %s);" % (fn, arg, name))
        if inputs.get(table_name) in ("value", "pointee"):
            value = name if cs or inputs[table_name] == "value" else name + ".getValue()"
            lines.append("Check.%s(%s, %s, %s);" % ("NotNegative" if cs else "notNegative", fn, arg, value))
    for kind, name in export.arguments:
        if kind not in ("out", "out[9]"):
            continue
        what = ("Fields" if cs else "fields") if kind == "out[9]" else ("Room" if cs else "room")
        lines.append("Check.%s(%s, \"%s\", %s, %s);" % (what, fn, name, cs_name(name) if cs else name,
                                                        room_code(export.rooms[name], language)))
    return lines


def _checked_method(w, export, language):
    """One checked form: its signature, its checks, the call of the declaration."""
    cs = language == "cs"
    indent = "        " if cs else "    "
    params = ", ".join((_cs_checked_parameter if cs else _java_checked_parameter)(k, n) for k, n in export.arguments)
    w(indent + "public static int %s(%s)%s" % (export.name, params, "" if cs else " {"))
    if cs:
        w(indent + "{")
    for line in _checks(export, language):
        w(indent + "    " + line)
    function = ("Native." if cs else "KpDev.library().") + export.name
    fields = [n for k, n in export.arguments if k == "out[9]"]
    args = ", ".join("pointers" if k == "out[9]" else (_cs_argument(k, n) if cs else n) for k, n in export.arguments)
    if fields:
        w(indent + "    return Check.%s(%s, pointers %s %s(%s));" % ("WithFields" if cs else "withFields",
                                                                   cs_name(fields[0]) if cs else fields[0],
                                                                   "=>" if cs else "->", function, args))
    else:
        w(indent + "    return %s(%s);" % (function, args))
    w(indent + "}")


def _switch(w, indent, cases, default, allman):
    """The body of a function of a result code: a switch over the header's cases."""
    w(indent + "switch (code)" + ("" if allman else " {"))
    if allman:
        w(indent + "{")
    for code, text in cases:
        w(indent + "    case %d: return %s;" % (code, _string(text)))
    w(indent + "    default: return %s;" % ("null" if default is None else _string(default)))
    w(indent + "}")


def _string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def csharp_exports(exports):
    out = []
    w = out.append
    w("// " + GENERATED_BY)
    w("// " + CHECKED_BY)
    w("using System;")
    w("using System.Runtime.InteropServices;")
    w("")
    w("namespace Kpdev")
    w("{")
    w("    /// <summary>The library's %d functions as it exports them, unchecked: an output" % len(exports))
    w("    /// smaller than its room is overrun, as in C. <see cref=\"Exports\"/> checks the")
    w("    /// arguments first.</summary>")
    w("    /// <remarks>CallingConvention.Winapi is the platform's own convention: __stdcall on")
    w("    /// 32-bit Windows, where the library's exports are __stdcall, and the C convention")
    w("    /// everywhere else (64-bit Windows and Linux have one convention), so one set of")
    w("    /// declarations serves every platform. \"KP_DEV\" is KP_DEV.dll on Windows; on Linux")
    w("    /// Kpdev.dll.config maps it to libKP_DEV.so.2 for Mono, and NativeLibrary's resolver")
    w("    /// does the same on .NET (see <see cref=\"KpDev\"/>).</remarks>")
    w("    public static partial class Native")
    w("    {")
    for e in exports:
        params = ", ".join(_cs_raw_parameter(k, n) for k, n in e.arguments)
        w("        [DllImport(LibraryName, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]")
        w("        public static extern int %s(%s);" % (e.name, params))
        w("")
    out[-1:] = []
    w("    }")
    w("")
    w("    /// <summary>The library's %d functions with their arguments checked before the" % len(exports))
    w("    /// call: no null, every text input NUL-terminated, hex upper-case and of even")
    w("    /// length, and every output at least the room that kp_dev.h gives it. A refused")
    w("    /// argument throws an ArgumentException and nothing reaches the library. Each")
    w("    /// returns the library's result unchanged.</summary>")
    w("    public static partial class Exports")
    w("    {")
    for e in exports:
        _checked_method(w, e, "cs")
        w("")
    out[-1:] = []
    w("    }")
    w("}")
    return "\n".join(out) + "\n"


def csharp_results(header):
    names, _ = header_switch(header, "kp_dev_result_name")
    texts, default = header_switch(header, "kp_dev_result_text")
    out = []
    w = out.append
    w("// " + GENERATED_BY)
    w("// " + CHECKED_BY)
    w("namespace Kpdev")
    w("{")
    w("    /// <summary>The library's result codes with the names and English texts of")
    w("    /// kp_dev.h (kp_dev_result_name, kp_dev_result_text).</summary>")
    w("    public static class Results")
    w("    {")
    for name, value in result_constants(header):
        w("        public const int %s = %d;" % (name, value))
    w("")
    w("        /// <summary>The name of a result code (\"KP_DEV_ERR_PARAM\"), or null.</summary>")
    w("        public static string Name(int code)")
    w("        {")
    _switch(w, "            ", names, None, True)
    w("        }")
    w("")
    w("        /// <summary>An English description of a result code; never null.</summary>")
    w("        public static string Text(int code)")
    w("        {")
    _switch(w, "            ", texts, default, True)
    w("        }")
    w("    }")
    w("}")
    return "\n".join(out) + "\n"


# ---- Java

JAVA_TYPES = {"int": "int", "uint": "int", "float": "float", "text": "byte[]", "hex": "String", "out": "byte[]",
              "int*": "IntByReference", "float*": "FloatByReference"}


def _java_raw_parameter(kind, name):
    return "%s %s" % ("Pointer[]" if kind == "out[9]" else JAVA_TYPES[kind], name)


def _java_checked_parameter(kind, name):
    return "%s %s" % ("byte[][]" if kind == "out[9]" else JAVA_TYPES[kind], name)


def java_library(exports):
    out = []
    w = out.append
    w("// " + GENERATED_BY)
    w("// " + CHECKED_BY)
    w("package kpdev;")
    w("")
    w("import com.sun.jna.Library;")
    w("import com.sun.jna.Pointer;")
    w("import com.sun.jna.ptr.FloatByReference;")
    w("import com.sun.jna.ptr.IntByReference;")
    w("")
    w("/**")
    w(" * The library's %d functions as it exports them, unchecked: an output smaller than" % len(exports))
    w(" * its room is overrun, as in C. {@link Exports} checks the arguments first. An")
    w(" * {@code unsigned int} of C is an {@code int} here, carrying the same 32 bits. Get")
    w(" * the loaded library from {@link KpDev#library()}, which picks the __stdcall")
    w(" * convention on 32-bit Windows.")
    w(" */")
    w("public interface KpDevLibrary extends Library {")
    for e in exports:
        params = ", ".join(_java_raw_parameter(k, n) for k, n in e.arguments)
        w("    int %s(%s);" % (e.name, params))
        w("")
    out[-1:] = []
    w("}")
    return "\n".join(out) + "\n"


def java_exports(exports):
    out = []
    w = out.append
    w("// " + GENERATED_BY)
    w("// " + CHECKED_BY)
    w("package kpdev;")
    w("")
    w("import com.sun.jna.ptr.FloatByReference;")
    w("import com.sun.jna.ptr.IntByReference;")
    w("")
    w("/**")
    w(" * The library's %d functions with their arguments checked before the call: no null," % len(exports))
    w(" * every text input NUL-terminated, hex upper-case and of even length, and every")
    w(" * output at least the room that kp_dev.h gives it. A refused argument throws an")
    w(" * IllegalArgumentException (NullPointerException for a null) and nothing reaches the")
    w(" * library. Each returns the library's result unchanged.")
    w(" */")
    w("public final class Exports {")
    w("    private Exports() {}")
    w("")
    for e in exports:
        _checked_method(w, e, "java")
        w("")
    out[-1:] = []
    w("}")
    return "\n".join(out) + "\n"


def java_results(header):
    names, _ = header_switch(header, "kp_dev_result_name")
    texts, default = header_switch(header, "kp_dev_result_text")
    out = []
    w = out.append
    w("// " + GENERATED_BY)
    w("// " + CHECKED_BY)
    w("package kpdev;")
    w("")
    w("/** The library's result codes with the names and English texts of kp_dev.h. */")
    w("public final class Results {")
    w("    private Results() {}")
    w("")
    for name, value in result_constants(header):
        w("    public static final int %s = %d;" % (name, value))
    w("")
    w("    /** The name of a result code (\"KP_DEV_ERR_PARAM\"), or null. */")
    w("    public static String name(int code) {")
    _switch(w, "        ", names, None, False)
    w("    }")
    w("")
    w("    /** An English description of a result code; never null. */")
    w("    public static String text(int code) {")
    _switch(w, "        ", texts, default, False)
    w("    }")
    w("}")
    return "\n".join(out) + "\n"


def sources(exports, header):
    """{path relative to the repository: text} of every generated file."""
    return {
        "bindings/dotnet/src/Exports.g.cs": csharp_exports(exports),
        "bindings/dotnet/src/Results.g.cs": csharp_results(header),
        "bindings/java/src/kpdev/KpDevLibrary.java": java_library(exports),
        "bindings/java/src/kpdev/Exports.java": java_exports(exports),
        "bindings/java/src/kpdev/Results.java": java_results(header),
    }
