"""Copy a compiled .res file, restoring the progress bar's class name to the case it is written in.

windres upper-cases every class name that a dialog template gives as a string. Window classes are
found without regard to case, but the template should carry the name as the resource script writes
it; the two spellings have the same length, so no offset in the file moves.
"""
import sys

NAME = "msctls_progress32"

def main(source, target):
    data = open(source, "rb").read()
    upper = NAME.upper().encode("utf-16-le") + b"\0\0"
    if data.count(upper) != 1:
        sys.exit(f"{source}: expected the class name {NAME.upper()} once")
    open(target, "wb").write(data.replace(upper, NAME.encode("utf-16-le") + b"\0\0"))

if __name__ == "__main__":
    main(*sys.argv[1:])
