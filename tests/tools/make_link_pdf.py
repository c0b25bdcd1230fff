import sys
# make_link_pdf.py OUT URI: a one-page PDF whose whole page is a link to URI.
out, uri = sys.argv[1], sys.argv[2]
content = b"BT /F1 36 Tf 72 700 Td (Linked page) Tj ET"
objs = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
    b"/Resources << /Font << /F1 5 0 R >> >> /Annots [6 0 R] >>",
    b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
    b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    b"<< /Type /Annot /Subtype /Link /Rect [0 0 612 792] /Border [0 0 0] "
    b"/A << /S /URI /URI (" + uri.encode() + b") >> >>",
]
data = b"%PDF-1.4\n"
offsets = []
for i, body in enumerate(objs, 1):
    offsets.append(len(data))
    data += b"%d 0 obj\n" % i + body + b"\nendobj\n"
xref = len(data)
data += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
for o in offsets:
    data += b"%010d 00000 n \n" % o
data += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(out, "wb").write(data)
