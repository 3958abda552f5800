#!/usr/bin/env python3
"""Makes a test CA trusted by the Windows program in a Wine prefix.

    python3 e2e/wine_trust.py CA.der [PREFIX]

The certificate goes into the current user's Root store of the prefix
(PREFIX, else $WYPRAWY_WINEPREFIX, else the prefix cmake/wine-run.sh uses),
through a registry file imported with `regedit /S`: the key is the
certificate's SHA-1 in capitals under
HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates, and its
"Blob" value holds one property, the certificate itself (property 0x20, a
reserved 1, the length, then the DER bytes). The system's chain engine, and
with it the program, then trusts servers that the CA signed. Nothing in the
program changes: it verifies every server as it always does.

For a prefix of the tests only: a CA added this way stays in the prefix.
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
ROOT_CERTIFICATES = r"HKEY_CURRENT_USER\Software\Microsoft\SystemCertificates\Root\Certificates"
CERT_CERT_PROP_ID = 0x20


def registry_text(der):
    """A REGEDIT4 file that adds `der` to the Root store."""
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    blob = struct.pack("<III", CERT_CERT_PROP_ID, 1, len(der)) + der
    hex_bytes = ["%02x" % b for b in blob]
    lines = [",".join(hex_bytes[i:i + 24]) for i in range(0, len(hex_bytes), 24)]
    value = '"Blob"=hex:' + ",\\\n  ".join(lines)
    return "REGEDIT4\n\n[%s\\%s]\n%s\n\n" % (ROOT_CERTIFICATES, thumbprint, value)


def trust_ca(der_path, prefix=None, wine_run=None):
    """Imports the CA at `der_path` into `prefix`; raises when regedit fails."""
    with open(der_path, "rb") as f:
        der = f.read()
    prefix = prefix or os.environ.get("WYPRAWY_WINEPREFIX") or os.path.join(ROOT, "build", "wineprefix")
    wine_run = wine_run or os.environ.get("WYPRAWY_WINE_RUN") or os.path.join(ROOT, "cmake", "wine-run.sh")
    env = dict(os.environ, WYPRAWY_WINEPREFIX=prefix)
    with tempfile.TemporaryDirectory() as work:
        reg = os.path.join(work, "ca.reg")
        with open(reg, "w", newline="\r\n") as f:
            f.write(registry_text(der))
        # Wine's drive Z: is the root of the host's file system.
        subprocess.run([wine_run, "regedit", "/S", "Z:" + reg], env=env, check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    if len(sys.argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    trust_ca(sys.argv[1], sys.argv[2] if len(sys.argv) == 3 else None)
    return 0


if __name__ == "__main__":
    sys.exit(main())
