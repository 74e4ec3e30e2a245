"""The client's INI preferences file as the tests see it: its values, the
stored form of a password, and a file written before the client starts."""

import base64
import hashlib
import os
import subprocess


def ini_value(text, group, key):
    """The value of key in group ("" is the part before the first group),
    None when it is not there."""
    current = ""
    for raw in text.splitlines():
        line = raw.strip()
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
        elif "=" in line and current == group:
            k, v = line.split("=", 1)
            if k.strip() == key:
                return v.strip()
    return None


def protect(text, device_id):
    """The stored form of a password: base64(IV + AES-256-CBC(text)), keyed by
    SHA-256 of the device identifier; made with the openssl command line so
    the client's own code is not used to check itself."""
    key = hashlib.sha256(device_id.encode()).hexdigest()
    iv = os.urandom(16)
    cipher = subprocess.run(["openssl", "enc", "-aes-256-cbc", "-K", key, "-iv", iv.hex()],
                            input=text.encode(), capture_output=True, check=True).stdout
    return base64.b64encode(iv + cipher).decode()


def write_preferences(run, lines):
    """The client run's preferences file, holding lines, before it starts."""
    run.ini_file.parent.mkdir(parents=True, exist_ok=True)
    run.ini_file.write_bytes(("\r\n".join(lines) + "\r\n").encode())
