#!/usr/bin/env python3
"""The layering rule of the source tree, checked as a test (CTest: layering).

 1. src/app, src/log and src/main.cpp include only the layer's public headers (PUBLIC below), their
    own headers, resource.h, the C++ standard library, <curl/curl.h>, and <openssl/evp.h> in
    src/log/md5_checksum.cpp only; and never name `platform::`.
 2. A file of src/platform/<folder>/ includes "platform/<other>/..." only for an <other> that
    ALLOWED lists for its folder; every platform include names a folder, and the layer includes
    nothing of the log or the application.
 3. Qt headers appear only in src/platform/window (QtCore, QtGui), gdi (QtCore, QtGui) and view
    (QtCore, QtGui, QtWidgets).
 4. <sqlite3.h> appears only in src/platform/registry; <openssl/...> only in the digest,
    <curl/...> only in src/app.
 5. Nothing in src/ chooses behaviour by a weak symbol.
 6. No CMakeLists.txt under src/ globs its sources; a folder's library links only the folder
    libraries ALLOWED lists for it, and a third-party library only where THIRD_PARTY allows it.
Exit status 1 with one line per violation (file:line: rule: what), 0 when the tree keeps the rule.
Usage: check_layering.py <source root> <Qt include root>"""
import os
import re
import sys

ALLOWED = {
    "base": set(),
    "kernel": {"base"}, "fs": {"base"}, "registry": {"base"}, "modules": {"base"},
    "process": {"base", "kernel"},
    "shell": {"base", "kernel", "process"},
    "window": {"base", "kernel"},
    "gdi": {"base", "kernel", "modules", "window"},
    "view": {"base", "kernel", "modules", "window", "gdi"},
    "afx": {"base", "kernel", "process", "fs", "registry", "modules", "shell", "window", "gdi",
            "view"},
}
QT_MODULES = {"window": {"QtCore", "QtGui"}, "gdi": {"QtCore", "QtGui"},
              "view": {"QtCore", "QtGui", "QtWidgets"}}
# Which folders may link a third-party library (by its CMake target's prefix).
THIRD_PARTY = {
    "SQLite::": {"registry"},
    "Qt6::Core": {"window", "gdi", "view"}, "Qt6::Gui": {"window", "gdi", "view"},
    "Qt6::Widgets": {"view"},
}
# What the application and the log may include of the layer.
PUBLIC = {
    "base/types.h", "base/cstring.h", "base/lasterror.h", "base/exceptions.h", "base/textconv.h",
    "base/geometry.h",
    "kernel/sync.h", "kernel/thread.h", "kernel/clock.h", "kernel/systime.h", "kernel/version.h",
    "process/process.h", "process/token.h",
    "fs/file.h", "fs/folders.h", "fs/profile.h",
    "registry/registry.h",
    "modules/resources.h",
    "shell/shell.h", "shell/inet.h",
    "window/winuser_constants.h", "window/messages.h", "window/window_ops.h",
    "window/message_box.h",
    "gdi/gdi.h", "gdi/gdi_object.h", "gdi/font.h",
    "afx/message_map.h", "afx/runtime_class.h", "afx/wnd.h", "afx/app.h", "afx/dialog.h",
    "afx/data_exchange.h", "afx/controls.h", "afx/file_dialog.h", "afx/paint_dc.h",
}
STD = set("""algorithm any array atomic bitset cassert cctype cerrno cfenv cfloat charconv chrono
cinttypes climits clocale cmath codecvt complex condition_variable csetjmp csignal cstdarg cstddef
cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype deque exception execution filesystem
forward_list fstream functional future initializer_list iomanip ios iosfwd iostream istream
iterator limits list locale map memory memory_resource mutex new numeric optional ostream queue
random ratio regex scoped_allocator set shared_mutex sstream stack stdexcept streambuf string
string_view system_error thread tuple type_traits typeindex typeinfo unordered_map unordered_set
utility valarray variant vector""".split())
DIGEST = "src/log/md5_checksum.cpp"
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
WEAK = re.compile(r"__attribute__\s*\(\(\s*weak|\[\[\s*gnu::weak\s*\]\]|#\s*pragma\s+weak")
FOLDER_LIB = re.compile(r"\bzelv_platform_(\w+)\b")
GLOB = re.compile(r"file\s*\(\s*GLOB", re.I)


def sources(root):
    for d, _, names in os.walk(os.path.join(root, "src")):
        for n in sorted(names):
            if n.endswith((".h", ".cpp")) or n == "CMakeLists.txt":
                yield os.path.relpath(os.path.join(d, n), root)


def qt_module(header, qt_root, modules):
    top = header.split("/")[0]
    if top.startswith("Qt") and "/" in header:
        return top
    for m in modules:
        if os.path.isfile(os.path.join(qt_root, m, header)):
            return m
    return None


def check_cmake(path, parts, text, fail):
    folder = parts[2] if len(parts) == 4 and parts[1] == "platform" else None
    for n, line in enumerate(text.splitlines(), 1):
        code = line.split("#", 1)[0]
        if GLOB.search(code):
            fail(path, n, "sources listed", "file(GLOB ...) in a CMakeLists.txt under src/")
        if folder:
            for lib in FOLDER_LIB.findall(code):
                if lib != folder and lib not in ALLOWED[folder]:
                    fail(path, n, "folder links", f"{folder} links zelv_platform_{lib}")
        for target, folders in THIRD_PARTY.items():
            if target in code and folder not in folders:
                fail(path, n, "third-party libraries only where used",
                     f"{target} linked in {folder or parts[1]}")


def main():
    if len(sys.argv) != 3 or not os.path.isdir(sys.argv[2]):
        sys.exit(__doc__.rsplit("\n", 1)[-1])
    root, qt_root = os.path.abspath(sys.argv[1]), sys.argv[2]
    modules = sorted(m for m in os.listdir(qt_root) if m.startswith("Qt"))
    errors = []

    def fail(path, line, rule, what):
        errors.append(f"{path}:{line}: {rule}: {what}")

    files = list(sources(root))
    for path in files:
        text = open(os.path.join(root, path), encoding="utf-8").read()
        parts = path.split("/")
        if parts[-1] == "CMakeLists.txt":
            check_cmake(path, parts, text, fail)
            continue
        above = parts[1] in ("app", "log") or path == "src/main.cpp"
        folder = parts[2] if parts[1] == "platform" and len(parts) > 3 else None
        if parts[1] == "platform" and folder not in ALLOWED:
            fail(path, 1, "the layer's files lie in its folders", path)
        for n, line in enumerate(text.splitlines(), 1):
            if WEAK.search(line):
                fail(path, n, "no weak symbols", line.strip())
            if above and re.search(r"\bplatform::", line):
                fail(path, n, "app and log name no platform::", line.strip())
            m = INCLUDE.match(line)
            if not m:
                continue
            quoted, header = m.group(1) == '"', m.group(2)
            before = len(errors)
            module = None if quoted else qt_module(header, qt_root, modules)
            if not quoted and header == "sqlite3.h" and folder != "registry":
                fail(path, n, "SQLite only in registry", f"<{header}>")
            if not quoted and header.startswith("openssl/") and path != DIGEST:
                fail(path, n, "OpenSSL only in the digest", f"<{header}>")
            if not quoted and header.startswith("curl/") and parts[1] != "app":
                fail(path, n, "libcurl only in the application", f"<{header}>")
            if module and module not in QT_MODULES.get(folder, set()):
                fail(path, n, "Qt only in window, gdi and view",
                     f"<{header}> ({module}) in {folder or parts[1]}")
            if above and len(errors) == before:
                if quoted:
                    ok = (header == "resource.h" or
                          (header.startswith("platform/") and header[9:] in PUBLIC) or
                          header.startswith("log/") or
                          (header.startswith("app/") and parts[1] == "app"))
                else:
                    ok = (header in STD or header == "curl/curl.h" or
                          (header == "openssl/evp.h" and path == DIGEST))
                if not ok:
                    fail(path, n, "app and log see public headers only",
                         f'"{header}"' if quoted else f"<{header}>")
            if parts[1] == "platform" and quoted and not header.startswith("platform/"):
                fail(path, n, "the layer includes only the layer", f'"{header}"')
            if folder and quoted and header.startswith("platform/"):
                rest = header.split("/")
                if len(rest) != 3 or rest[1] not in ALLOWED:
                    fail(path, n, "includes name their folder", f'"{header}"')
                elif rest[1] != folder and rest[1] not in ALLOWED[folder]:
                    fail(path, n, "a folder includes only the folders below it",
                         f'{folder} -> {rest[1]}: "{header}"')
    for e in errors:
        print(e)
    print(f"layering: {len(errors)} violation(s) in {len(files)} files")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
