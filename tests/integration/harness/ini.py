"""Reads the client's INI preferences text (as the tests see the file)."""


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
