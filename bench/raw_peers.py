#!/usr/bin/env python3
"""Peers nginx cannot play, for bench/http_get_vs_curl.sh, on 127.0.0.1:

  raw_peers.py chunked PORT FILE...  answers GET /NAME with the bytes of the
      FILE whose base name is NAME, as they are: a whole reply, head included,
      sent by the kernel (sendfile), so the server costs next to nothing.
  raw_peers.py proxy PORT            a CONNECT proxy: "200" and then the bytes
      both ways until either side closes.

Connections are kept alive; each is served by a thread of its own. The
process runs until it is killed.
"""
import os
import socket
import sys
import threading


def read_head(conn, held):
    while b"\r\n\r\n" not in held:
        data = conn.recv(65536)
        if not data:
            return None, b""
        held += data
    head, _, rest = held.partition(b"\r\n\r\n")
    return head, rest


def serve_chunked(conn, replies):
    held = b""
    while True:
        head, held = read_head(conn, held)
        if head is None:
            return
        target = head.split(b" ", 2)[1].decode()
        reply = replies.get(os.path.basename(target))
        if reply is None:
            conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
            continue
        with open(reply, "rb") as f:
            conn.sendfile(f)


def pump(source, sink):
    try:
        while True:
            data = source.recv(262144)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    for s in (source, sink):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve_proxy(conn):
    head, rest = read_head(conn, b"")
    if head is None:
        return
    authority = head.split(b" ", 2)[1].decode()
    host, _, port = authority.rpartition(":")
    upstream = socket.create_connection((host.strip("[]"), int(port)))
    upstream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
    if rest:
        upstream.sendall(rest)
    back = threading.Thread(target=pump, args=(upstream, conn), daemon=True)
    back.start()
    pump(conn, upstream)
    back.join()
    upstream.close()


def main():
    mode, port = sys.argv[1], int(sys.argv[2])
    replies = {os.path.basename(p): p for p in sys.argv[3:]}
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(64)

    def serve(conn):
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            if mode == "chunked":
                serve_chunked(conn, replies)
            else:
                serve_proxy(conn)
        except OSError:
            pass
        finally:
            conn.close()

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
