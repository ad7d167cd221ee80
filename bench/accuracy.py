#!/usr/bin/env python3
"""Accuracy and speed of velko against the general PDF tools people use today.

For every PDF of a corpus folder that has a NAME.txt ground truth, extract the text with
velko and with each installed peer (PyMuPDF, pypdfium2, pdfminer.six, pypdf, poppler's
pdftotext), normalise both sides the same way, and report per document and per producer
the character error rate (edit distance / ground-truth length) and the word-bag F1, plus
pages per second. With the engine's `bench_ocr_pages` program built, it also compares the
pages velko flags as needing OCR with the corpus metadata.

    python bench/accuracy.py [--corpus DIR] [--out bench/results/accuracy.md]

Peers are benchmark-only dependencies: pip install -r bench/requirements.txt
"""

from __future__ import annotations

import argparse
import collections
import json
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import time
import unicodedata

ROOT = pathlib.Path(__file__).resolve().parents[1]

# Documents judged for text accuracy: an intact text layer in these categories.
JUDGED_CATEGORIES = {"prose", "mixed", "vocalised", "headings", "two-column", "persian-urdu"}
BROKEN_TAGS = {"garbled-text-layer", "bad-tounicode", "outlined-text", "legacy-font"}

BIDI_CONTROLS = dict.fromkeys(
    [0x200E, 0x200F, *range(0x202A, 0x202F), *range(0x2066, 0x206A), 0xFEFF]
)
ARABIC_LETTER = r"[\u0620-\u063F\u0641-\u064A\u066E-\u06D3\u06D5\u06FA-\u06FF\u0750-\u077F]"
TATWEEL_INSIDE = re.compile(f"(?<={ARABIC_LETTER})\u0640+(?={ARABIC_LETTER})")
WHITE = re.compile(r"\s+")


def normalise(text: str) -> str:
    """The same normalisation on both sides: NFKC, bidi controls and BOM removed, elongation
    between two Arabic letters removed (the corpus keeps typed tatweel), white space runs
    turned into one space."""
    text = unicodedata.normalize("NFKC", text).translate(BIDI_CONTROLS)
    text = TATWEEL_INSIDE.sub("", text)
    return WHITE.sub(" ", text).strip()


def edit_distance(a: str, b: str) -> int:
    try:
        from rapidfuzz.distance import Levenshtein

        return Levenshtein.distance(a, b)
    except ImportError:  # slow fallback, fine for small corpora
        prev = list(range(len(b) + 1))
        for i, ca in enumerate(a, 1):
            cur = [i]
            for j, cb in enumerate(b, 1):
                cur.append(min(prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (ca != cb)))
            prev = cur
        return prev[-1]


def word_f1(pred: str, truth: str) -> float:
    p, t = collections.Counter(pred.split()), collections.Counter(truth.split())
    common = sum((p & t).values())
    if not p or not t:
        return 1.0 if p == t else 0.0
    precision, recall = common / sum(p.values()), common / sum(t.values())
    return 0.0 if common == 0 else 2 * precision * recall / (precision + recall)


# --- extractors -------------------------------------------------------------------------


def tool_velko():
    import velko

    return velko.extract_text


def tool_pymupdf():
    import fitz

    def run(path):
        with fitz.open(path) as doc:
            return "\n".join(page.get_text() for page in doc)

    return run


def tool_pypdfium2():
    import pypdfium2 as pdfium

    def run(path):
        doc = pdfium.PdfDocument(path)
        try:
            return "\n".join(doc[i].get_textpage().get_text_range() for i in range(len(doc)))
        finally:
            doc.close()

    return run


def tool_pdfminer():
    from pdfminer.high_level import extract_text

    return extract_text


def tool_pypdf():
    from pypdf import PdfReader

    def run(path):
        return "\n".join(page.extract_text() or "" for page in PdfReader(path).pages)

    return run


def tool_pdftotext():
    exe = shutil.which("pdftotext")
    if not exe:
        raise ImportError("pdftotext not installed")

    def run(path):
        return subprocess.run(
            [exe, "-enc", "UTF-8", str(path), "-"], capture_output=True, check=False
        ).stdout.decode("utf-8", "replace")

    return run


TOOLS = {
    "velko": tool_velko,
    "pymupdf": tool_pymupdf,
    "pypdfium2": tool_pypdfium2,
    "pdfminer": tool_pdfminer,
    "pypdf": tool_pypdf,
    "pdftotext": tool_pdftotext,
}


def producer_key(meta: dict) -> str:
    p = meta.get("producer", "?")
    for key in ("LibreOffice", "Chromium", "XeLaTeX", "pango", "Ghostscript", "pdfLaTeX",
                "ocrmypdf", "img2pdf", "pdftoppm"):
        if key.lower() in p.lower():
            return key
    return p.split()[0] if p else "?"


def judged(meta: dict) -> bool:
    cats = set(meta.get("category", []))
    return bool(cats & JUDGED_CATEGORIES) and not (cats & BROKEN_TAGS) and not meta.get(
        "needs_ocr_pages"
    )


def ocr_pages(path: pathlib.Path, program: pathlib.Path | None):
    if not program:
        return None
    out = subprocess.run([str(program), str(path)], capture_output=True, text=True)
    if out.returncode != 0:
        return None
    return json.loads(out.stdout)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--corpus", default=str(ROOT.parent / "shared" / "corpus" / "dev"))
    ap.add_argument("--tools", default=",".join(TOOLS))
    ap.add_argument("--repeat", type=int, default=1, help="timed passes over the corpus per tool")
    ap.add_argument("--out", help="write the markdown report here as well")
    ap.add_argument("--json", help="write per-document figures as JSON here")
    ap.add_argument("--ocr-program", default=str(ROOT / "build" / "dev" / "bench" / "bench_ocr_pages"))
    args = ap.parse_args()

    corpus = pathlib.Path(args.corpus)
    docs = []
    for pdf in sorted(corpus.glob("*.pdf")):
        txt, meta = pdf.with_suffix(".txt"), pdf.with_suffix(".json")
        if not txt.exists():
            continue
        m = json.loads(meta.read_text()) if meta.exists() else {}
        docs.append((pdf, normalise(txt.read_text(encoding="utf-8")), m))
    if not docs:
        print(f"no documents with ground truth in {corpus}", file=sys.stderr)
        return 1

    tools = {}
    for name in args.tools.split(","):
        try:
            tools[name] = TOOLS[name]()
        except ImportError as e:
            print(f"skipping {name}: {e}", file=sys.stderr)

    rows = {}  # doc name -> tool -> (cer, f1)
    speed = {}
    total_pages = sum(int(m.get("pages", 1)) for _, _, m in docs)
    for name, run in tools.items():
        elapsed = 0.0
        for rep in range(args.repeat):
            for pdf, truth, _ in docs:
                t0 = time.perf_counter()
                try:
                    text = run(pdf)
                except Exception as e:  # a peer crashing on a file scores as empty output
                    print(f"{name} failed on {pdf.name}: {e}", file=sys.stderr)
                    text = ""
                elapsed += time.perf_counter() - t0
                if rep == 0:
                    pred = normalise(text)
                    cer = edit_distance(pred, truth) / max(len(truth), 1)
                    rows.setdefault(pdf.stem, {})[name] = (cer, word_f1(pred, truth))
        speed[name] = total_pages * args.repeat / elapsed if elapsed > 0 else float("inf")

    names = list(tools)
    out = []
    out.append(f"# Accuracy on {corpus.name}: {len(docs)} documents, {total_pages} pages\n")
    out.append("CER = edit distance / ground-truth length (lower is better); F1 = word-bag F1.")
    out.append("Judged = intact text layer in the prose, mixed, vocalised, headings, two-column")
    out.append("and persian-urdu categories (no garbled/bad-ToUnicode/outlined/legacy fonts, no")
    out.append("pages meant for OCR).\n")

    out.append("## Mean CER of judged documents, per producer\n")
    out.append("| producer | docs | " + " | ".join(names) + " |")
    out.append("|---|---|" + "---|" * len(names))
    by_producer = collections.defaultdict(list)
    for pdf, _, m in docs:
        if judged(m):
            by_producer[producer_key(m)].append(pdf.stem)
    all_judged = [d for v in by_producer.values() for d in v]
    for producer in sorted(by_producer) + ["all"]:
        members = all_judged if producer == "all" else by_producer[producer]
        cells = [
            f"{100 * statistics.mean(rows[d][n][0] for d in members):.2f}%" for n in names
        ]
        out.append(f"| {producer} | {len(members)} | " + " | ".join(cells) + " |")

    out.append("\n## Speed\n")
    out.append("| tool | pages/s | ratio to velko |")
    out.append("|---|---|---|")
    for n in names:
        ratio = speed[n] / speed["velko"] if "velko" in speed else float("nan")
        out.append(f"| {n} | {speed[n]:.1f} | {ratio:.2f} |")

    ocr_program = pathlib.Path(args.ocr_program)
    ocr_program = ocr_program if ocr_program.exists() else None
    if ocr_program:
        out.append("\n## Pages needing OCR: velko's verdict against the corpus metadata\n")
        out.append("| document | pages | expected | velko | agree |")
        out.append("|---|---|---|---|---|")
        agree = disagree = 0
        for pdf, _, m in docs:
            got = ocr_pages(pdf, ocr_program)
            if got is None:
                continue
            expected = sorted(m.get("needs_ocr_pages", []))
            flagged = sorted(got["needs_ocr"])
            pages = int(m.get("pages", got["pages"]))
            ok = expected == flagged
            # Count agreement page by page.
            for p in range(1, pages + 1):
                if (p in expected) == (p in flagged):
                    agree += 1
                else:
                    disagree += 1
            if expected or flagged:
                out.append(f"| {pdf.stem} | {pages} | {expected} | {flagged} | {'yes' if ok else 'NO'} |")
        out.append(f"\nPages in agreement: {agree}; in disagreement: {disagree}.")

    out.append("\n## Per document\n")
    out.append("| document | producer | category | judged | " + " | ".join(f"{n} CER / F1" for n in names) + " |")
    out.append("|---|---|---|---|" + "---|" * len(names))
    for pdf, _, m in docs:
        r = rows[pdf.stem]
        cells = [f"{100 * r[n][0]:.2f}% / {r[n][1]:.3f}" for n in names]
        out.append(
            f"| {pdf.stem} | {producer_key(m)} | {','.join(m.get('category', []))} | "
            f"{'yes' if judged(m) else 'no'} | " + " | ".join(cells) + " |"
        )

    report = "\n".join(out) + "\n"
    print(report)
    if args.out:
        pathlib.Path(args.out).parent.mkdir(parents=True, exist_ok=True)
        pathlib.Path(args.out).write_text(report, encoding="utf-8")
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps({"rows": rows, "speed": speed}, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
