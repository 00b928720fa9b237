#!/usr/bin/python3
"""Fails when a source file includes a header of a folder its layer may not use.

    check_includes.py SOURCE_ROOT QT_INCLUDE_DIR

Folders depend in one direction, from platform/ at the bottom to the windows
in app/ at the top; the table below is the one the README's development notes
show. Qt modules count as folders too: Widgets and Gui only for the windows
and the display controls, Sql only for the database layer. Qt's include
folder (the one holding QtCore/) comes from the build; without it a Qt
header could not be told apart, so a missing folder is an error.
"""
import os
import re
import sys

# folder or file -> what its files may include (besides the C++ and Qt Core
# headers); the longest key that a path starts with is its rule.
ALLOWED = {
    "platform": {"platform"},
    "delta": {"delta", "platform"},
    "ftp": {"ftp", "platform"},
    "db": {"db", "platform", "QtSql"},
    "widgets": {"widgets", "platform", "QtGui", "QtWidgets"},
    "upgrade": {"upgrade", "db", "platform"},
    "release": {"release", "platform"},
    "update": {"update", "delta", "release", "upgrade", "ftp", "db", "platform", "settings"},
    "fleet": {"fleet", "upgrade", "db", "platform"},
    "app": {"app", "update", "release", "upgrade", "ftp", "db", "widgets", "platform", "settings",
            "QtGui", "QtWidgets", "QtSql"},
    "tools": {"tools", "fleet", "update", "delta", "release", "upgrade", "ftp", "db", "platform", "settings", "QtSql"},
    # The demo's generator and driver use what the program and the tools use,
    # and the tests' RAR writer for the demo's archive.
    "demo": {"demo", "app", "tools", "update", "release", "upgrade", "ftp", "db", "widgets", "platform",
             "settings", "QtGui", "QtWidgets", "QtSql", "tests/support"},
    "tests/support": {"tests/support", "platform"},
    # How the tests and the demo's driver find a window's controls.
    "tests/support/controls.h": {"tests/support", "QtWidgets"},
    "tests/support/controls.cpp": {"tests/support", "QtWidgets"},
    # The main of the window tests starts the program's own application object.
    "tests/support/appmain.cpp": {"tests/support", "platform", "app"},
}
# Headers private to one library: only its own sources and private headers
# may include them, so asio, OpenSSL, the InterBase client header,
# libsodium and libcurl stay inside. A key ending in "/" stands for every header of that folder.
PRIVATE = {
    "asio.hpp": ("ftp/", "ftp/idsocket.h"),
    "asio/": ("ftp/", "ftp/idsocket.h"),
    "openssl/": ("ftp/", None),
    "ftp/idsocket.h": ("ftp/", None),
    "ibase.h": ("db/", "db/ibclient.h"),
    "db/ibclient.h": ("db/", None),
    "sodium.h": ("release/", "release/crypto.h"),
    "zstd.h": ("delta/", None),
    "release/text.h": ("release/", None),
    "release/crypto.h": ("release/", None),
    "curl/": ("update/https/", None),
}
QT_MODULES = ("QtGui", "QtWidgets", "QtSql")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def qt_module(qt_include, header):
    """The Qt module a <QName> or <QtModule/...> header belongs to, if watched."""
    first = header.split("/")[0]
    if first in QT_MODULES:
        return first
    for module in QT_MODULES:
        if os.path.isfile(os.path.join(qt_include, module, header)):
            return module
    return None


def rule_of(path):
    """The key of ALLOWED that governs a path: the longest one it starts with."""
    keys = [key for key in ALLOWED if path == key or path.startswith(key + "/")]
    return max(keys, key=len) if keys else None


def used_folder(qt_include, kind, header):
    if kind == '"':
        if header == "settings.h":
            return "settings"
        if "/" not in header:
            return None
        folder = rule_of(os.path.dirname(header))
        return folder if folder else header.split("/")[0]
    return qt_module(qt_include, header)


def private_fault(path, header):
    """Why path may not include header, or None."""
    key = header if header in PRIVATE else header.split("/")[0] + "/"
    if key not in PRIVATE:
        return None
    folder, private_header = PRIVATE[key]
    if path.startswith(folder) and (path.endswith(".cpp") or path == private_header):
        return None
    return f"{header} is private to {folder}"


def sources(root):
    """Every header and source file under the folders of ALLOWED, relative to root."""
    found = set()
    for key in ALLOWED:
        for folder, _, files in os.walk(os.path.join(root, key)):
            found.update(os.path.relpath(os.path.join(folder, name), root)
                         for name in files if name.endswith((".h", ".cpp")))
    return sorted(found)


def faults_of(root, qt_include, relative):
    rule = rule_of(relative)
    allowed = ALLOWED[rule]
    with open(os.path.join(root, relative), encoding="utf-8", errors="replace") as source:
        for number, line in enumerate(source, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            used = used_folder(qt_include, *match.groups())
            if used and used not in allowed:
                yield f"{relative}:{number}: {rule} may not include {match.group(2)} ({used})"
            why = private_fault(relative, match.group(2))
            if why:
                yield f"{relative}:{number}: {why}"


def main(root, qt_include):
    missing = [module for module in ("QtCore",) + QT_MODULES
               if not os.path.isdir(os.path.join(qt_include, module))]
    if missing:
        print(f"Qt's include folder {qt_include!r} lacks {', '.join(missing)}: cannot tell Qt headers apart")
        return 2
    faults = [fault for relative in sources(root) for fault in faults_of(root, qt_include, relative)]
    for fault in faults:
        print(fault)
    print(f"{len(faults)} forbidden includes")
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
