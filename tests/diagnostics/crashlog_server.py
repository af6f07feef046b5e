#!/usr/bin/env python3
"""A crash-log endpoint for tests: prints its port and process id, then records every POST.

Each request is appended to the record file as one line of tab-separated fields: the path, the
content type, then name=hex(value) for every form field, decoded by urllib.parse as a form
decoder does. The server stops by itself after a time limit.
"""
import http.server
import os
import sys
import threading
import urllib.parse

record_path = sys.argv[1]
limit = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("ascii")
        fields = urllib.parse.parse_qs(body, keep_blank_values=True, strict_parsing=True,
                                       encoding="utf-8", errors="strict")
        parts = [self.path, self.headers.get("Content-Type", "")]
        for name in sorted(fields):
            for value in fields[name]:
                parts.append(name + "=" + value.encode("utf-8").hex())
        with open(record_path, "a") as f:
            f.write("\t".join(parts) + "\n")
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], os.getpid(), flush=True)
threading.Timer(limit, server.shutdown).start()
server.serve_forever()
