#!/usr/bin/python3
"""Fails when a source file includes a header of a folder its layer may not use.

Folders depend in one direction, from platform/ at the bottom to the windows
in app/ at the top; the table below is the one the README's development notes
show. Qt modules count as folders too: Widgets and Gui only for the windows
and the display controls, Sql only for the database layer.
"""
import os
import re
import sys

# folder -> what its files may include (besides the C++ and Qt Core headers)
ALLOWED = {
    "platform": {"platform"},
    "ftp": {"ftp", "platform"},
    "db": {"db", "platform", "QtSql"},
    "widgets": {"widgets", "platform", "QtGui", "QtWidgets"},
    "upgrade": {"upgrade", "db", "platform"},
    "release": {"release", "platform"},
    "update": {"update", "release", "upgrade", "ftp", "db", "platform", "settings"},
    "app": {"app", "update", "release", "upgrade", "ftp", "db", "widgets", "platform", "settings",
            "QtGui", "QtWidgets", "QtSql"},
    "tools": {"tools", "update", "release", "upgrade", "ftp", "db", "platform", "settings", "QtSql"},
}
# Headers private to one library: only its own sources and private headers
# may include them, so asio, OpenSSL, the InterBase client header and
# libsodium stay inside. A key ending in "/" stands for every header of that folder.
PRIVATE = {
    "asio.hpp": ("ftp/", "ftp/idsocket.h"),
    "asio/": ("ftp/", "ftp/idsocket.h"),
    "openssl/": ("ftp/", None),
    "ftp/idsocket.h": ("ftp/", None),
    "ibase.h": ("db/", "db/ibclient.h"),
    "db/ibclient.h": ("db/", None),
    "sodium.h": ("release/", "release/crypto.h"),
    "release/crypto.h": ("release/", None),
}
QT_INCLUDE = "/usr/include/x86_64-linux-gnu/qt6"
QT_MODULES = ("QtGui", "QtWidgets", "QtSql")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def qt_module(header):
    """The Qt module a <QName> or <QtModule/...> header belongs to, if watched."""
    first = header.split("/")[0]
    if first in QT_MODULES:
        return first
    for module in QT_MODULES:
        if os.path.isfile(os.path.join(QT_INCLUDE, module, header)):
            return module
    return None


def used_folder(kind, header):
    if kind == '"':
        if header == "settings.h":
            return "settings"
        return header.split("/")[0] if "/" in header else None
    return qt_module(header)


def private_fault(path, header):
    """Why path may not include header, or None."""
    key = header if header in PRIVATE else header.split("/")[0] + "/"
    if key not in PRIVATE:
        return None
    folder, private_header = PRIVATE[key]
    if path.startswith(folder) and (path.endswith(".cpp") or path == private_header):
        return None
    return f"{header} is private to {folder}"


def main(root):
    faults = []
    for layer, allowed in ALLOWED.items():
        for folder, _, files in os.walk(os.path.join(root, layer)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(folder, name)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        relative = os.path.relpath(path, root)
                        used = used_folder(*match.groups())
                        if used and used not in allowed:
                            faults.append(f"{relative}:{number}: {layer}/ may not include {match.group(2)} ({used})")
                        why = private_fault(relative, match.group(2))
                        if why:
                            faults.append(f"{relative}:{number}: {why}")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} forbidden includes")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")))
