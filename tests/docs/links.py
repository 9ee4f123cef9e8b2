"""README.md, CHANGELOG.md and docs/*.md: every relative link names a file, and a heading of it when it
has an #anchor; every scripts/ and bench/ path that the text names exists. links.py SOURCE_DIR"""
import glob
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
TREE_PATH = re.compile(r"(?<![\w./-])((?:scripts|bench)/[\w.\-/]*\w)")


def anchors(page):
    """GitHub's anchors of a page's headings: lower case, punctuation dropped, spaces to hyphens, repeats numbered."""
    seen, fence = {}, False
    for line in open(page, encoding="utf-8"):
        fence ^= line.startswith("```")
        heading = re.match(r"#{1,6} (.*)", line) if not fence else None
        if heading:
            text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading.group(1).strip())
            slug = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
            n = seen.get(slug, 0)
            seen[slug] = n + 1
            yield slug if n == 0 else f"{slug}-{n}"


def problems(page):
    text, fence = open(page, encoding="utf-8").read(), False
    for path in TREE_PATH.findall(text):
        if not os.path.exists(os.path.join(root, path)):
            yield f"names {path}, which is not in the tree"
    for line in text.splitlines():
        fence ^= line.startswith("```")
        for target in [] if fence else LINK.findall(re.sub(r"`[^`]*`", "code", line)):
            if re.match(r"[a-z]+:", target):
                continue
            file, _, anchor = target.partition("#")
            file = os.path.normpath(os.path.join(os.path.dirname(page), file)) if file else page
            if not os.path.exists(file):
                yield f"links to {target}: no such file"
            elif anchor and file.endswith(".md") and anchor not in set(anchors(file)):
                yield f"links to {target}: no such heading"


pages = [os.path.join(root, "README.md"), os.path.join(root, "CHANGELOG.md")]
pages += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
found = [f"{os.path.relpath(page, root)}: {p}" for page in pages for p in problems(page)]
print("\n".join(found) or f"{len(pages)} pages, every link and path found")
sys.exit(1 if found else 0)
