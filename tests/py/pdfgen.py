"""Writes small PDF files for the module's tests, object by object."""

import zlib


class PdfWriter:
    def __init__(self):
        self.objects = {}
        self.next = 1

    def reserve(self):
        n = self.next
        self.next += 1
        return n

    def set(self, n, body):
        self.objects[n] = body if isinstance(body, bytes) else body.encode("latin-1")

    def add(self, body):
        n = self.reserve()
        self.set(n, body)
        return n

    def add_stream(self, data, entries="", flate=False):
        if isinstance(data, str):
            data = data.encode("latin-1")
        if flate:
            data = zlib.compress(data)
            entries += " /Filter /FlateDecode"
        head = f"<< {entries} /Length {len(data)} >>\nstream\n".encode("latin-1")
        return self.add(head + data + b"\nendstream")

    def build(self, root):
        out = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
        offsets = {}
        for n in sorted(self.objects):
            offsets[n] = len(out)
            out += f"{n} 0 obj\n".encode() + self.objects[n] + b"\nendobj\n"
        xref = len(out)
        out += f"xref\n0 {self.next}\n".encode() + b"0000000000 65535 f \n"
        for n in range(1, self.next):
            if n in offsets:
                out += f"{offsets[n]:010d} 00000 n \n".encode()
            else:
                out += b"0000000000 00000 f \n"
        out += f"trailer\n<< /Size {self.next} /Root {root} 0 R >>\nstartxref\n{xref}\n%%EOF\n".encode()
        return bytes(out)


def simple_pdf(pages, writer=None):
    """pages: list of (content, page_entries). Returns the file's bytes."""
    w = writer or PdfWriter()
    catalog, tree = w.reserve(), w.reserve()
    kids = []
    for content, entries in pages:
        c = w.add_stream(content)
        kids.append(w.add(f"<< /Type /Page /Parent {tree} 0 R /Contents {c} 0 R {entries} >>"))
    refs = " ".join(f"{k} 0 R" for k in kids)
    w.set(tree, f"<< /Type /Pages /Kids [{refs}] /Count {len(kids)} >>")
    w.set(catalog, f"<< /Type /Catalog /Pages {tree} 0 R >>")
    return w.build(catalog)
