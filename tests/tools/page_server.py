#!/usr/bin/env python3
"""A loopback web server for the shell-driven tests: serves the files of a folder, answers
/redirect?to=<address> with a 302 to that address, /attach?name=<file name> with a favorite's
text handed over as a download under that name, and appends every requested path (with its
query) to a log, one a line, so a test can tell what the browser asked for. It binds a free
port on 127.0.0.1 and writes the port number to a file once it listens.

usage: page_server.py FOLDER LOG PORT_FILE"""
import http.server
import os
import socketserver
import sys
import urllib.parse


class Server(http.server.ThreadingHTTPServer):
    # The standard bind looks the host's name up, which waits for a resolver that may not be there.
    def server_bind(self):
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=sys.argv[1], **kwargs)

    def record(self):
        with open(sys.argv[2], "a", encoding="utf-8") as log:
            log.write(self.path + "\n")

    def do_GET(self):
        self.record()
        parts = urllib.parse.urlsplit(self.path)
        if parts.path == "/redirect":
            target = urllib.parse.parse_qs(parts.query).get("to", [""])[0]
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if parts.path == "/attach":
            name = urllib.parse.parse_qs(parts.query).get("name", ["file"])[0]
            port = self.server.server_address[1]
            body = f"[InternetShortcut]\nURL=http://127.0.0.1:{port}/typed.html\n".encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Disposition",
                             "attachment; filename*=UTF-8''" + urllib.parse.quote(name, safe=""))
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        super().do_GET()

    def do_POST(self):
        self.record()
        length = int(self.headers.get("Content-Length") or 0)
        self.rfile.read(length)
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(b"<title>Posted</title>")

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, *args):
        pass


def main():
    server = Server(("127.0.0.1", 0), Handler)
    port_file = sys.argv[3]
    with open(port_file + ".part", "w", encoding="utf-8") as out:
        out.write(str(server.server_address[1]))
    os.replace(port_file + ".part", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
