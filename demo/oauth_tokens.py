"""Access tokens of the demo sign-in service, shared by demo/oauth_server.py
(which issues them) and the demo SMTP server (which takes them for AUTH
XOAUTH2). A token is signed with a key kept in a private file, so the two
servers need nothing else in common and a made-up token is refused.

Only Debian's python3 standard library is used.
"""

import base64
import hashlib
import hmac
import json
import os
import secrets
import time
from pathlib import Path

DEMO_DIR = Path(__file__).resolve().parent
DEFAULT_KEY_FILE = DEMO_DIR / "run" / "oauth-token.key"
PREFIX = "demo-at."


def load_key(path=DEFAULT_KEY_FILE):
    """The signing key; made (32 random bytes, mode 0600) on first use.
    Both demo servers may start at once: the key is written aside and
    linked into place, so neither ever reads a half-written file."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists():
        spare = path.with_name(f".{path.name}.{os.getpid()}.{secrets.token_hex(4)}")
        fd = os.open(spare, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o600)
        with os.fdopen(fd, "wb") as out:
            out.write(secrets.token_bytes(32))
        try:
            os.link(spare, path)
        except FileExistsError:
            pass
        finally:
            spare.unlink()
    key = path.read_bytes()
    if len(key) < 32:
        raise ValueError(f"{path} holds no usable key; delete it to get a new one")
    return key


def _b64(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def _unb64(text):
    return base64.urlsafe_b64decode(text + "=" * (-len(text) % 4))


def issue_access_token(key, subject, lifetime=3600, now=None):
    """A token for the account `subject`, good for `lifetime` seconds."""
    now = time.time() if now is None else now
    payload = json.dumps({"sub": subject, "exp": int(now + lifetime),
                          "jti": secrets.token_hex(8)}, separators=(",", ":")).encode()
    body = _b64(payload)
    mac = hmac.new(key, body.encode(), hashlib.sha256).digest()
    return f"{PREFIX}{body}.{_b64(mac)}"


def check_access_token(key, token, now=None):
    """The account the token was issued for, or None when it is not one of
    ours, was altered or has expired."""
    if not token.startswith(PREFIX):
        return None
    body, _, mac = token[len(PREFIX):].partition(".")
    try:
        expected = hmac.new(key, body.encode(), hashlib.sha256).digest()
        if not hmac.compare_digest(expected, _unb64(mac)):
            return None
        claims = json.loads(_unb64(body))
    except ValueError:
        return None
    now = time.time() if now is None else now
    if not isinstance(claims, dict) or not isinstance(claims.get("sub"), str):
        return None
    if not isinstance(claims.get("exp"), int) or claims["exp"] < now:
        return None
    return claims["sub"]


def xoauth2_account(key, client_response):
    """Checks the decoded XOAUTH2 client response ("user=" login ^A
    "auth=Bearer " token ^A^A): the login when the token is valid and was
    issued for that login, else None."""
    fields = {}
    for part in client_response.split("\x01"):
        name, sep, value = part.partition("=")
        if sep:
            fields[name] = value
    auth = fields.get("auth", "")
    if not auth.startswith("Bearer "):
        return None
    subject = check_access_token(key, auth[len("Bearer "):])
    if subject is None or subject != fields.get("user"):
        return None
    return subject


def xoauth2_hook(key_file=DEFAULT_KEY_FILE):
    """AUTH XOAUTH2 for an aiosmtpd handler (handler.auth_XOAUTH2 = ...):
    takes a token of the demo sign-in service for the account it was issued
    to, refuses anything else the way the big providers do (an error
    challenge, then 535). The key is read at the first AUTH, so the servers
    may start in any order."""
    from aiosmtpd.smtp import MISSING, AuthResult, LoginPassword

    keys = []

    async def auth_XOAUTH2(server, args):
        if len(args) > 1:
            try:
                response = base64.b64decode(args[1], validate=True)
            except ValueError:
                response = b""
        else:
            response = await server.challenge_auth("")
            if response is MISSING:
                return AuthResult(success=False, handled=False, message="501 5.5.2 Aborted")
        if not keys:
            keys.append(load_key(key_file))
        account = xoauth2_account(keys[0], response.decode("utf-8", "replace"))
        if account is not None:
            return AuthResult(success=True,
                              auth_data=LoginPassword(login=account.encode(), password=b""))
        await server.challenge_auth(b'{"status":"401","schemes":"bearer"}')
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 The token was not issued for this account")

    return auth_XOAUTH2
