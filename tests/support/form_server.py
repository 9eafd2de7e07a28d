#!/usr/bin/env python3
"""A form server for the upload tests, parsing with Python's own email parser.

Listens on a free loopback port, which it writes as one line to the file
descriptor given as its first argument. Each POST body is taken apart with
email.parser.BytesParser (policy HTTP) under the request's Content-Type; the
answer is a JSON object with what was parsed: the form's content type, the
parser's defects, and each part's name, file name, content type and either
its text or, for a file part, its size and the file in the directory given
as the second argument, named by the part's position.

With a certificate chain and its key as third and fourth arguments (PEM
files), it speaks https through Python's ssl module instead.
"""
import email.parser
import email.policy
import http.server
import json
import os
import ssl
import sys


def text(value):
    """Header text: bytes that were not ASCII come back as UTF-8."""
    if value is None:
        return None
    try:
        return value.encode("ascii", "surrogateescape").decode("utf-8")
    except UnicodeError:
        return value


class FormHandler(http.server.BaseHTTPRequestHandler):
    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def do_POST(self):
        body = self.read_body()
        content_type = self.headers.get("Content-Type", "")
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n" + body)
        parts = []
        if message.is_multipart():
            for index, part in enumerate(message.iter_parts()):
                entry = {
                    "disposition": part.get_content_disposition(),
                    "name": text(part.get_param("name", header="content-disposition")),
                    "filename": text(part.get_filename()),
                    "type": part.get_content_type() if "Content-Type" in part else "",
                }
                data = part.get_payload(decode=True)
                if entry["filename"] is None:
                    entry["value"] = data.decode("utf-8")
                else:
                    with open(os.path.join(sys.argv[2], "%d.bin" % index), "wb") as out:
                        out.write(data)
                    entry["size"] = len(data)
                parts.append(entry)
        answer = {
            "code": "success",
            "method": self.command,
            "path": self.path,
            "contentType": message.get_content_type(),
            "defects": [type(d).__name__ for d in message.defects],
            "parts": parts,
        }
        reply = json.dumps(answer).encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    server = http.server.HTTPServer(("127.0.0.1", 0), FormHandler)
    if len(sys.argv) > 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    with os.fdopen(int(sys.argv[1]), "w") as port_out:
        port_out.write("%d\n" % server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
