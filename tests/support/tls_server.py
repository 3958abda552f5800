#!/usr/bin/env python3
"""Loopback TLS test server for the https download tests and benchmarks.

    python3 tls_server.py DIR [--lifetime SECONDS]

Makes, if missing, a test CA and server certificates in DIR with the
`openssl` command, listens on 127.0.0.1 at ports the system picks (one
listener per case below), writes DIR/ports.txt ("NAME PORT" lines, written
whole through a rename) and serves until it is killed or its lifetime ends.

Listeners:
  localhost   leaf for DNS:localhost from the test CA; sends leaf + CA
  ip          leaf with IP:127.0.0.1 only
  expired     leaf for DNS:localhost, expired in 2020
  othername   leaf for DNS:other.invalid only
  selfsigned  self-signed leaf for DNS:localhost
  untrusted   leaf for DNS:localhost from a second CA nobody trusts; sends both
  shortchain  the untrusted listener's leaf alone, without its CA (a chain
              that stops short of any root)
  plain       plain HTTP; a TLS hello gets a plain "400 Bad Request"
  stall       accepts, reads, never sends a byte
  alert       answers the hello with a fatal handshake_failure alert
  tls11       (when the local OpenSSL allows it) TLS 1.1 at most

Replies, chosen by the first segment of the request's path (the request is
read up to its empty line):
  /cl/...          200 with Content-Length; the body is the request's bytes
  /chunked/...     the same body, chunked in pieces of 7 bytes
  /close/...       no length: the body, close_notify, then the connection
                   stays open a few seconds (the client must end on close_notify)
  /abrupt/...      no length: the body, then a TCP close without close_notify
  /cut/...         Content-Length 100 more than the body sent, close_notify, close
  /cutchunked/...  chunks of the body, close_notify and close before the last chunk
  /garbage/...     (TLS) no length: the body, then a record that does not decrypt
  /partial/...     (TLS) Content-Length 100 more than the body sent, then part
                   of a record whose rest never comes (a few seconds, then close)
  /big/N/...       Content-Length N, N bytes of a fixed pattern
  /bigclose/N/...  N bytes of the pattern until close (close_notify, close)
  /404/...         404 with a short body
  anything else    404 as well

The program trusts nothing but the system's store, and has no switch to
do otherwise. A test makes the test CA part of that store for itself only:
on Linux SSL_CERT_FILE=DIR/ca.pem in the test's process (OpenSSL's own
variable, honoured by every OpenSSL program); under Wine DIR/ca.der in the
Root store of the tests' private Wine prefix. A check by hand on Linux:

    python3 tests/support/tls_server.py /tmp/tls &      # then see /tmp/tls/ports.txt
    SSL_CERT_FILE=/tmp/tls/ca.pem build/linux/wyprawy   # link: https://localhost:PORT/cl/x
    curl --cacert /tmp/tls/ca.pem https://localhost:PORT/cl/x

and with the Windows program under Wine, in the prefix of cmake/wine-run.sh:

    python3 e2e/wine_trust.py /tmp/tls/ca.der           # the CA into its Root store
    cmake/wine-run.sh build/windows/wyprawy.exe
"""

import argparse
import os
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import warnings

HOST = "127.0.0.1"
PATTERN = b"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ<td>\r\n"
HOLD_AFTER_CLOSE_NOTIFY_S = 3.0
LINGER_S = 2.0
IO_TIMEOUT_S = 20.0
MAX_REQUEST = 64 * 1024

OPENSSL_CONFIG = """
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf_localhost]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:localhost
[leaf_ip]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = IP:127.0.0.1
[leaf_other]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = DNS:other.invalid
[leaf_self]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
subjectAltName = DNS:localhost
[ca]
default_ca = test_ca
[test_ca]
database = {db}/index.txt
new_certs_dir = {db}
serial = {db}/serial
default_md = sha256
policy = any_name
unique_subject = no
[any_name]
commonName = supplied
"""

# Files made by make_certificates; a folder holding all of them is reused.
CERT_FILES = [
    "ca.pem", "ca.der", "ca.key", "untrusted-ca.pem", "leaf.key",
    "localhost.pem", "ip.pem", "expired.pem", "othername.pem", "selfsigned.pem", "untrusted.pem",
]


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(directory):
    """Test CA, a second CA nobody trusts, and the server certificates."""
    if all(os.path.exists(os.path.join(directory, f)) for f in CERT_FILES):
        return
    os.makedirs(directory, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=directory) as work:
        config = os.path.join(work, "openssl.cnf")
        with open(config, "w") as f:
            f.write(OPENSSL_CONFIG.format(db=work))
        open(os.path.join(work, "index.txt"), "w").close()
        with open(os.path.join(work, "serial"), "w") as f:
            f.write("1000\n")

        def key(name):
            openssl("genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                    "-out", name, cwd=work)

        def ca(name, subject):
            key(name + ".key")
            openssl("req", "-x509", "-config", config, "-extensions", "ca_ext", "-key", name + ".key",
                    "-subj", subject, "-days", "3650", "-sha256", "-out", name + ".pem", cwd=work)

        def leaf(name, section, subject, issuer, dates=("-days", "3650")):
            openssl("req", "-new", "-config", config, "-key", "leaf.key", "-subj", subject,
                    "-out", name + ".csr", cwd=work)
            openssl("ca", "-batch", "-notext", "-config", config, "-cert", issuer + ".pem",
                    "-keyfile", issuer + ".key", "-extfile", config, "-extensions", section,
                    "-in", name + ".csr", "-out", name + ".pem", *dates, cwd=work)

        ca("ca", "/CN=wyprawy test CA")
        ca("untrusted-ca", "/CN=wyprawy untrusted test CA")
        key("leaf.key")
        leaf("localhost", "leaf_localhost", "/CN=localhost", "ca")
        leaf("ip", "leaf_ip", "/CN=127.0.0.1", "ca")
        leaf("expired", "leaf_localhost", "/CN=localhost", "ca",
             ("-startdate", "20200101000000Z", "-enddate", "20200201000000Z"))
        leaf("othername", "leaf_other", "/CN=other.invalid", "ca")
        leaf("untrusted", "leaf_localhost", "/CN=localhost", "untrusted-ca")
        openssl("req", "-x509", "-config", config, "-extensions", "leaf_self", "-key", "leaf.key",
                "-subj", "/CN=localhost", "-days", "3650", "-sha256", "-out", "selfsigned.pem", cwd=work)
        openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=work)
        # The CA certificate is last, so that a half-made folder is made again.
        for name in reversed(CERT_FILES):
            os.replace(os.path.join(work, name), os.path.join(directory, name))


def chain_file(directory, leaf, issuer):
    """leaf + issuer in one PEM file, as a server sends them."""
    path = os.path.join(directory, leaf + ("-chain.pem" if issuer else "-alone.pem"))
    with open(os.path.join(directory, leaf + ".pem"), "rb") as f:
        data = f.read()
    if issuer:
        with open(os.path.join(directory, issuer + ".pem"), "rb") as f:
            data += f.read()
    temp = path + ".tmp%d" % os.getpid()
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, path)
    return path


def server_context(directory, leaf, issuer, tls11=False):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if tls11:
        context.minimum_version = ssl.TLSVersion.TLSv1
        context.maximum_version = ssl.TLSVersion.TLSv1_1
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
    context.load_cert_chain(chain_file(directory, leaf, issuer), os.path.join(directory, "leaf.key"))
    return context


# --- replies -----------------------------------------------------------------

def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
        if len(data) > MAX_REQUEST:
            return None
    return data[:data.index(b"\r\n\r\n") + 4]


def path_segments(request):
    line = request.split(b"\r\n", 1)[0].split(b" ")
    target = line[1] if len(line) > 1 else b"/"
    return target.split(b"?", 1)[0].lstrip(b"/").split(b"/")


def send_pattern(conn, count):
    block = PATTERN * (65536 // len(PATTERN) + 1)
    while count > 0:
        piece = block[:min(count, len(block))]
        conn.sendall(piece)
        count -= len(piece)


def close_notify(conn):
    """Sends close_notify without waiting for the client's; the plain socket after it."""
    raw = socket.socket(fileno=os.dup(conn.fileno()))
    conn.setblocking(False)
    try:
        conn.unwrap()
    except (OSError, ssl.SSLError, ValueError):
        pass  # the client's close_notify has not come yet: not waited for
    return raw


def linger(raw, seconds, shut_write=True):
    """Ends the connection gently: no more bytes from here, then reads (and
    drops) what the client still sends until it closes or `seconds` pass, so
    that the close never becomes a reset that could eat the reply."""
    deadline = time.monotonic() + seconds
    try:
        if shut_write:
            raw.shutdown(socket.SHUT_WR)
        while time.monotonic() < deadline:
            raw.settimeout(max(deadline - time.monotonic(), 0.01))
            if not raw.recv(4096):
                return
    except (OSError, ValueError):
        pass
    finally:
        raw.close()


def reply(conn, request):
    """Sends the reply; then (seconds, shut_write) for linger(), after a
    close_notify on TLS, or None for a close without close_notify."""
    tls = isinstance(conn, ssl.SSLSocket)
    segments = path_segments(request)
    kind = segments[0]
    head_ok = b"HTTP/1.1 200 OK\r\n"
    if kind == b"cl":
        conn.sendall(head_ok + b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(request) + request)
    elif kind in (b"chunked", b"cutchunked"):
        conn.sendall(head_ok + b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
        for i in range(0, len(request), 7):
            piece = request[i:i + 7]
            conn.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        if kind == b"cutchunked":
            return
        conn.sendall(b"0\r\n\r\n")
    elif kind == b"close":
        conn.sendall(head_ok + b"Connection: close\r\n\r\n" + request)
        # The connection stays open after close_notify: the client has to
        # end the body on close_notify itself.
        return HOLD_AFTER_CLOSE_NOTIFY_S, False
    elif kind == b"abrupt":
        conn.sendall(head_ok + b"Connection: close\r\n\r\n" + request)
        return None  # a TCP close with no close_notify before it
    elif kind in (b"garbage", b"partial") and tls:
        # Past the TLS layer, on the socket itself: a whole record that does
        # not decrypt, or the first bytes of a record whose rest never comes.
        if kind == b"garbage":
            conn.sendall(head_ok + b"Connection: close\r\n\r\n" + request)
            junk = b"\x17\x03\x03\x00\x40" + bytes(range(64))
        else:
            conn.sendall(head_ok + b"Content-Length: %d\r\nConnection: close\r\n\r\n" % (len(request) + 100)
                         + request)
            junk = b"\x17\x03\x03\x00\x64" + bytes(10)
        raw = socket.socket(fileno=os.dup(conn.fileno()))
        raw.sendall(junk)
        linger(raw, HOLD_AFTER_CLOSE_NOTIFY_S if kind == b"partial" else LINGER_S, kind == b"garbage")
        return None
    elif kind == b"cut":
        conn.sendall(head_ok + b"Content-Length: %d\r\nConnection: close\r\n\r\n" % (len(request) + 100)
                     + request)
    elif kind in (b"big", b"bigclose") and len(segments) > 1 and segments[1].isdigit():
        count = int(segments[1])
        if kind == b"big":
            conn.sendall(head_ok + b"Content-Length: %d\r\nConnection: close\r\n\r\n" % count)
        else:
            conn.sendall(head_ok + b"Connection: close\r\n\r\n")
        send_pattern(conn, count)
    else:
        body = b"not found\r\n"
        conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body)
                     + body)
    return LINGER_S, True


# --- listeners ---------------------------------------------------------------

def serve_tls(conn, context):
    conn.settimeout(IO_TIMEOUT_S)
    try:
        tls = context.wrap_socket(conn, server_side=True)
    except (OSError, ssl.SSLError):
        return  # the client refused the certificate, or was no TLS client
    # What was agreed, for the benchmark's report (the log is stdout).
    print("negotiated %s %s" % (tls.version(), tls.cipher()[0]), flush=True)
    try:
        request = read_request(tls)
        if request is None:
            return
        end = reply(tls, request)
        if end is not None:
            linger(close_notify(tls), *end)
    except (OSError, ssl.SSLError):
        pass
    finally:
        tls.close()


def serve_plain(conn):
    conn.settimeout(IO_TIMEOUT_S)
    try:
        first = conn.recv(1, socket.MSG_PEEK)
        if first and not first.isalpha():
            # A TLS hello (or other binary) on the HTTP port: what web servers answer.
            body = b"<html>400 Bad Request: plain HTTP port</html>\r\n"
            conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                         % len(body) + body)
            linger(socket.socket(fileno=os.dup(conn.fileno())), LINGER_S)
            return
        request = read_request(conn)
        if request is None:
            return
        # Plain HTTP has no close_notify: the end of the connection is the end.
        reply(conn, request)
        linger(socket.socket(fileno=os.dup(conn.fileno())), LINGER_S)
    except OSError:
        pass


def serve_stall(conn):
    # Takes whatever comes and answers nothing until the client gives up.
    conn.settimeout(IO_TIMEOUT_S * 3)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def serve_alert(conn):
    conn.settimeout(IO_TIMEOUT_S)
    try:
        header = b""
        while len(header) < 5:
            piece = conn.recv(5 - len(header))
            if not piece:
                return
            header += piece
        length = int.from_bytes(header[3:5], "big")
        left = length
        while left > 0:
            piece = conn.recv(min(left, 4096))
            if not piece:
                return
            left -= len(piece)
        # Alert record, TLS 1.2: level fatal (2), handshake_failure (40).
        conn.sendall(b"\x15\x03\x03\x00\x02\x02\x28")
        time.sleep(0.2)
    except OSError:
        pass


def listen():
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind((HOST, 0))
    sock.listen(64)
    return sock


def accept_loop(sock, handler):
    while True:
        try:
            conn, _ = sock.accept()
        except OSError:
            return

        def run(conn=conn):
            try:
                handler(conn)
            finally:
                try:
                    conn.close()
                except OSError:
                    pass

        threading.Thread(target=run, daemon=True).start()


def tls11_context(directory):
    """A context that speaks TLS 1.1 at most, or None when OpenSSL here cannot."""
    try:
        context = server_context(directory, "localhost", "ca", tls11=True)
    except (ssl.SSLError, ValueError, OSError):
        return None
    # Try it: a client that allows 1.1 must get through.
    server = listen()
    ok = []

    def serve():
        conn, _ = server.accept()
        try:
            context.wrap_socket(conn, server_side=True).close()
            ok.append(True)
        except (OSError, ssl.SSLError):
            pass

    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    client_context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    client_context.check_hostname = False
    client_context.verify_mode = ssl.CERT_NONE
    try:
        client_context.minimum_version = ssl.TLSVersion.TLSv1
        client_context.maximum_version = ssl.TLSVersion.TLSv1_1
        client_context.set_ciphers("DEFAULT:@SECLEVEL=0")
        with socket.create_connection(server.getsockname(), timeout=5) as raw:
            client_context.wrap_socket(raw).close()
    except (OSError, ssl.SSLError, ValueError):
        pass
    thread.join(5)
    server.close()
    return context if ok else None


def main():
    # TLS 1.1 is deprecated, which is why the tls11 listener exists.
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("dir")
    parser.add_argument("--lifetime", type=float, default=900)
    args = parser.parse_args()
    directory = os.path.abspath(args.dir)
    make_certificates(directory)

    def tls_handler(context):
        return lambda conn: serve_tls(conn, context)

    handlers = {
        "localhost": tls_handler(server_context(directory, "localhost", "ca")),
        "ip": tls_handler(server_context(directory, "ip", "ca")),
        "expired": tls_handler(server_context(directory, "expired", "ca")),
        "othername": tls_handler(server_context(directory, "othername", "ca")),
        "selfsigned": tls_handler(server_context(directory, "selfsigned", None)),
        "untrusted": tls_handler(server_context(directory, "untrusted", "untrusted-ca")),
        "shortchain": tls_handler(server_context(directory, "untrusted", None)),
        "plain": serve_plain,
        "stall": serve_stall,
        "alert": serve_alert,
    }
    old = tls11_context(directory)
    if old is not None:
        handlers["tls11"] = tls_handler(old)

    ports = []
    for name, handler in handlers.items():
        sock = listen()
        ports.append("%s %d\n" % (name, sock.getsockname()[1]))
        threading.Thread(target=accept_loop, args=(sock, handler), daemon=True).start()

    temp = os.path.join(directory, "ports.txt.tmp%d" % os.getpid())
    with open(temp, "w") as f:
        f.writelines(ports)
    os.replace(temp, os.path.join(directory, "ports.txt"))

    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    time.sleep(args.lifetime)
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
