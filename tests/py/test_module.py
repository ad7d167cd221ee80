import inspect
import os
import pathlib
import shutil
import subprocess

import pytest

import velko
from pdfgen import simple_pdf


def test_module_surface():
    assert velko.__doc__ == "Arabic PDF text extraction without OCR."
    assert issubclass(velko.VelkoError, Exception)
    assert velko.VelkoError.__module__ == "velko"
    assert velko.VelkoError.__qualname__ == "VelkoError"
    assert velko.VelkoError.__doc__ == "Raised when a PDF cannot be parsed."
    assert str(inspect.signature(velko.extract_text)) == "(path)"
    assert velko.extract_text.__doc__ == (
        "Extract a document's text in one call.\n\n"
        "Equivalent to `Document(path).text`, and the simplest way in."
    )


def test_sample_gives_text_for_str_and_path(sample_pdf):
    text = velko.extract_text(str(sample_pdf))
    assert isinstance(text, str)
    assert velko.extract_text(sample_pdf) == text


def test_pathlike_returning_bytes(tmp_path):
    f = tmp_path / "doc.pdf"
    f.write_bytes(simple_pdf([("", "")]))

    class BytesPath:
        def __fspath__(self):
            return os.fsencode(f)

    assert velko.extract_text(BytesPath()) == velko.extract_text(f)


@pytest.mark.parametrize("bad", [5, None, b"/tmp/x.pdf", ["a.pdf"], 3.5])
def test_non_path_argument_is_type_error(bad):
    with pytest.raises(TypeError, match="path"):
        velko.extract_text(bad)


def test_missing_file(tmp_path):
    missing = tmp_path / "nope.pdf"
    with pytest.raises(FileNotFoundError) as info:
        velko.extract_text(missing)
    assert str(info.value) == f"could not read `{missing}`: No such file or directory"
    assert info.value.args == (str(info.value),)
    assert info.value.errno is None and info.value.filename is None


def test_directory_is_os_error(tmp_path):
    with pytest.raises(OSError) as info:
        velko.extract_text(tmp_path)
    assert not isinstance(info.value, (FileNotFoundError, PermissionError))
    assert str(info.value) == f"could not read `{tmp_path}`: Is a directory"


@pytest.mark.parametrize(
    "content",
    [b"", b"plain text, not a PDF\n", b"%PDF-1.7\n", simple_pdf([("BT ET", "")])[:40]],
    ids=["empty", "text", "header-only", "truncated"],
)
def test_unparseable_files_are_velko_errors(tmp_path, content):
    f = tmp_path / "bad.pdf"
    f.write_bytes(content)
    with pytest.raises(velko.VelkoError) as info:
        velko.extract_text(f)
    assert str(info.value).startswith("malformed PDF: ")


@pytest.mark.skipif(shutil.which("qpdf") is None, reason="qpdf command not installed")
def test_encrypted_with_user_password(tmp_path):
    plain = tmp_path / "plain.pdf"
    plain.write_bytes(simple_pdf([("BT ET", "")]))
    locked = tmp_path / "locked.pdf"
    subprocess.run(
        ["qpdf", "--encrypt", "user", "owner", "256", "--", str(plain), str(locked)], check=True
    )
    with pytest.raises(velko.VelkoError, match="^malformed PDF: "):
        velko.extract_text(locked)
    # Encrypted with an owner password only: opens with the empty user password.
    open_ = tmp_path / "open.pdf"
    subprocess.run(
        ["qpdf", "--encrypt", "", "owner", "256", "--", str(plain), str(open_)], check=True
    )
    assert isinstance(velko.extract_text(open_), str)


def test_unreadable_file_is_permission_error(tmp_path):
    f = tmp_path / "secret.pdf"
    f.write_bytes(simple_pdf([("", "")]))
    f.chmod(0)
    if os.geteuid() != 0:
        with pytest.raises(PermissionError) as info:
            velko.extract_text(f)
        assert str(info.value).startswith(f"could not read `{f}`: ")
        return
    # Root reads everything; drop privileges in a child to see the denial.
    tmp_path.chmod(0o755)
    pid = os.fork()
    if pid == 0:
        code = 3
        try:
            os.setgid(65534)
            os.setuid(65534)
            velko.extract_text(f)
            code = 1
        except PermissionError as e:
            code = 0 if str(e) == f"could not read `{f}`: Permission denied" else 2
        except BaseException:
            code = 4
        os._exit(code)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0


def test_zero_page_document(tmp_path):
    f = tmp_path / "empty.pdf"
    f.write_bytes(simple_pdf([]))
    assert velko.extract_text(f) == ""


def arabic_page(writer, content):
    """A page entry using a font whose ToUnicode maps codes 1-3 to beh, teh, kaf."""
    cmap = writer.add_stream("begincmap 3 beginbfchar <01> <0628> <02> <062A> <03> <0643> "
                             "endbfchar endcmap")
    font = writer.add(f"<< /Type /Font /Subtype /TrueType /FirstChar 1 /Widths [500 500 500] "
                      f"/ToUnicode {cmap} 0 R >>")
    return (content, f"/Resources << /Font << /F1 {font} 0 R >> >>")


def test_text_in_logical_order_and_scans_left_out(tmp_path):
    from pdfgen import PdfWriter

    w = PdfWriter()
    text = "BT /F1 12 Tf 100 700 Td <030201> Tj ET"
    data = simple_pdf([("", ""), arabic_page(w, text), arabic_page(w, text)], writer=w)
    f = tmp_path / "doc.pdf"
    f.write_bytes(data)
    # The first page paints nothing and needs OCR: no blank line stands for it.
    assert velko.extract_text(f) == "\u0628\u062a\u0643\n\n\u0628\u062a\u0643"


def test_sample_reads_in_logical_order(sample_pdf):
    text = velko.extract_text(sample_pdf)
    assert text.startswith("التحول الرقمي في المؤسسات العربية\n")
    assert "(Cloud Computing)" in text and "15/03/2024" in text
