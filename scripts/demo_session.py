#!/usr/bin/env python3
"""Scripted editor session for the demo: speaks the framed protocol to the server over pipes
and pretty-prints each message it sends and receives. Not a test: it checks nothing."""
import json
import pathlib
import subprocess
import sys

TIMEOUT = 10


def frame(message):
    body = json.dumps(message).encode("utf-8")
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read_message(stream):
    length = None
    while True:
        line = stream.readline()
        if not line:
            return None
        line = line.strip()
        if not line:
            break
        name, _, value = line.decode("ascii").partition(":")
        if name.lower() == "content-length":
            length = int(value)
    return json.loads(stream.read(length))


def show(direction, message):
    text = json.dumps(message, indent=2, ensure_ascii=False)
    if len(text) > 1500:
        text = text[:1500] + "\n  ... (%d more characters)" % (len(text) - 1500)
    print("%s %s" % (direction, text))
    print()


def main():
    binary, path = sys.argv[1], pathlib.Path(sys.argv[2]).resolve()
    uri = path.as_uri()
    text = path.read_text(encoding="utf-8")
    doc = {"textDocument": {"uri": uri}}
    def at(line, character):
        return dict(doc, position={"line": line, "character": character})

    server = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    next_id = 1

    def send(message):
        show("editor -> server", message)
        server.stdin.write(frame(message))
        server.stdin.flush()

    def receive_until(predicate):
        while True:
            message = read_message(server.stdout)
            if message is None:
                return
            show("server -> editor", message)
            if predicate(message):
                return

    def request(method, params=None):
        nonlocal next_id
        ident, next_id = next_id, next_id + 1
        message = {"jsonrpc": "2.0", "id": ident, "method": method}
        if params is not None:
            message["params"] = params
        send(message)
        receive_until(lambda m: m.get("id") == ident and "method" not in m)

    def notify(method, params=None):
        message = {"jsonrpc": "2.0", "method": method}
        if params is not None:
            message["params"] = params
        send(message)

    request("initialize", {"processId": None, "rootUri": path.parent.as_uri(), "capabilities": {}})
    notify("initialized", {})
    receive_until(lambda m: m.get("method") == "window/logMessage")
    notify("textDocument/didOpen", {"textDocument": {
        "uri": uri, "languageId": "quibfile", "version": 1, "text": text}})
    request("textDocument/hover", at(14, 6))
    request("textDocument/hover", at(23, 15))
    request("textDocument/completion", at(23, 15))
    request("textDocument/documentSymbol", doc)
    request("textDocument/foldingRange", doc)
    request("textDocument/semanticTokens/full", doc)
    request("textDocument/formatting", dict(doc, options={"tabSize": 4, "insertSpaces": True}))
    request("textDocument/definition", at(23, 15))
    request("shutdown")
    notify("exit")
    server.stdin.close()
    rest = server.stdout.read()
    status = server.wait(timeout=TIMEOUT)
    if rest:
        print("unexpected trailing output: %r" % rest[:200])
    print("server exited with status %d" % status)
    return status


if __name__ == "__main__":
    sys.exit(main())
