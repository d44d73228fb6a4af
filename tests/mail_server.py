#!/usr/bin/python3
"""A mail server on 127.0.0.1 for the mailer's tests.

    tests/mail_server.py MODE FOLDER

Listens on a free port of 127.0.0.1, prints that port on one line, and
serves until it is terminated or its standard input closes. MODE:

  accept   a real SMTP server (aiosmtpd); each message it takes is written
           to FOLDER as N.eml (the bytes received, dot-stuffing undone) and
           N.json (one line: the envelope, the decoded header fields and the
           decoded text), N counting from 1, each file complete when it
           appears
  reject   greets and answers EHLO and MAIL FROM, then refuses every
           recipient with 550
  close    greets, then closes its side of the connection
  silent   accepts connections and never says anything
"""
import asyncio
import email
import email.policy
import json
import os
import socket
import sys
import threading


def write_whole(path, data):
    temporary = path + ".part"
    with open(temporary, "wb") as file:
        file.write(data)
    os.rename(temporary, path)


class SavingHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        raw = envelope.original_content
        message = email.message_from_bytes(raw, policy=email.policy.default)
        record = {
            "mail_from": envelope.mail_from,
            "rcpt_to": ", ".join(envelope.rcpt_tos),
            "header_names": ", ".join(message.keys()),
            "body": message.get_content(),
        }
        for name in ("Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                     "Content-Type", "Content-Transfer-Encoding"):
            record[name] = str(message[name]) if message[name] is not None else None
        base = os.path.join(self.folder, str(self.count))
        write_whole(base + ".eml", raw)
        write_whole(base + ".json",
                    json.dumps(record, ensure_ascii=False).encode("utf-8") + b"\n")
        return "250 OK message taken"


def serve_accept(listener, folder):
    from aiosmtpd.smtp import SMTP

    loop = asyncio.new_event_loop()
    handler = SavingHandler(folder)
    server = loop.run_until_complete(
        loop.create_server(lambda: SMTP(handler, hostname="mail.test"), sock=listener))
    threading.Thread(target=loop.run_forever, daemon=True).start()
    return server


def rejecting(connection):
    with connection:
        reader = connection.makefile("rb")
        connection.sendall(b"220 mail.test ESMTP\r\n")
        for line in reader:
            command = line.strip().upper()
            if command.startswith(b"EHLO") or command.startswith(b"HELO"):
                connection.sendall(b"250-mail.test\r\n250 8BITMIME\r\n")
            elif command.startswith(b"MAIL FROM"):
                connection.sendall(b"250 OK\r\n")
            elif command.startswith(b"RCPT TO"):
                connection.sendall(b"550 5.7.1 Relaying denied\r\n")
            elif command == b"QUIT":
                connection.sendall(b"221 Bye\r\n")
                return
            else:
                connection.sendall(b"503 Bad sequence of commands\r\n")


def closing(connection):
    # Closes its side after the greeting and reads on until the client has
    # gone, so that what the client sends meanwhile draws no reset.
    with connection:
        connection.sendall(b"220 mail.test ESMTP\r\n")
        connection.shutdown(socket.SHUT_WR)
        while connection.recv(4096):
            pass


held = []


def silent(connection):
    held.append(connection)  # kept open, never answered


def serve_raw(listener, behaviour):
    def loop():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=behaviour, args=(connection,), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()


def main():
    mode, folder = sys.argv[1], sys.argv[2]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    if mode == "accept":
        serve_accept(listener, folder)
    else:
        serve_raw(listener, {"reject": rejecting, "close": closing, "silent": silent}[mode])
    print(listener.getsockname()[1], flush=True)
    sys.stdin.read()  # until the test closes our input or ends us


if __name__ == "__main__":
    main()
