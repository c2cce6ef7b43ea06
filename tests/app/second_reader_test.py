#!/usr/bin/python3
"""An independent second reader of data files.

Makes a sample profile, backs it up with the real tessaly-cli at every level and with a
password, then inflates each data file with Python's zlib and walks the header, the project
stream and every item's data by the published layout alone, comparing what it finds with the
files of the profile. Shares no code with the C++ reader.

Usage: second_reader_test.py TESSALY_CLI MAKE_SAMPLE_PROFILE
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

CLI = None
MAKE_PROFILE = None
USER = "alice"
CAPTIONS = ["Windows Address Book", "Favorites", "IE Settings", "Outlook Express Data"]
PLACEHOLDERS = {
    "[CSIDL_APPDATA]": "users/%s/AppData/Roaming" % USER,
    "[CSIDL_LOCAL_APPDATA]": "users/%s/AppData/Local" % USER,
    "[CSIDL_FAVORITES]": "users/%s/Favorites" % USER,
}


def host_text(raw):
    """The one text rule: valid UTF-8 with non-ASCII is UTF-8, anything else Windows-1252."""
    try:
        text = raw.decode("utf-8")
        if any(ord(c) > 127 for c in text):
            return text
    except UnicodeDecodeError:
        pass
    return raw.decode("cp1252")


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, n):
        if n < 0 or self.at + n > len(self.data):
            raise AssertionError("plain stream ends at %d, %d bytes wanted at %d" % (len(self.data), n, self.at))
        chunk = self.data[self.at:self.at + n]
        self.at += n
        return chunk

    def int8(self):
        return self.take(1)[0]

    def int32(self):
        return struct.unpack("<i", self.take(4))[0]

    def int64(self):
        return struct.unpack("<q", self.take(8))[0]

    def double(self):
        return struct.unpack("<d", self.take(8))[0]

    def field(self):
        raw = self.take(256)
        return host_text(raw.split(b"\0", 1)[0])

    def cstring(self):
        end = self.data.index(b"\0", self.at)
        raw = self.take(end - self.at + 1)[:-1]
        return host_text(raw)

    def at_end(self):
        return self.at == len(self.data)


def read_key_tree(r):
    """A key tree: key blocks of path, values and "(end)", then a final "(end)"."""
    keys = []
    path = r.cstring()
    while path != "(end)":
        values = {}
        name = r.cstring()
        while name != "(end)":
            kind, size = r.int8(), r.int32()
            if kind == 1:
                data = r.cstring()
            elif kind == 3:
                data = struct.unpack("<I", r.take(4))[0]
            elif kind == 4:
                data = r.take(size)
            else:
                data = None
            values[name] = (kind, size, data)
            name = r.cstring()
        keys.append((path, values))
        path = r.cstring()
    return keys


def read_file_list(r, encrypted):
    """A file list block: a count, then that many sections each holding one file record."""
    files = []
    for _ in range(r.int32()):
        length = r.int64()
        section = r.take(length)
        if encrypted:
            assert length >= 8 and length % 8 == 0, length
            files.append(None)
            continue
        record = Reader(section)
        name = record.field()
        size = record.int64()
        files.append((name, record.take(size)))
        assert record.at_end(), "bytes left in the section of " + name
    return files


class DataFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            compressed = f.read()
        inflater = zlib.decompressobj()
        self.plain = inflater.decompress(compressed) + inflater.flush()
        assert inflater.eof, "the zlib stream has no end"
        assert inflater.unused_data == b"", "bytes follow the zlib stream"
        self.zlib_header = compressed[:2]
        r = Reader(self.plain)
        # DataHeaderRec
        ident = r.take(256)
        assert ident[:23] == b"Tessaly Data File Iden\0", ident[:30]
        self.backup_time = r.double()
        self.encrypted = r.int8()
        assert self.encrypted in (0, 1)
        r.take(7)
        # The project stream.
        ident = r.take(256)
        assert ident[:21] == b"Tessaly Project File\0", ident[:30]
        self.name = r.field()
        self.level = r.int8()
        r.take(7)
        self.create_time = r.double()
        self.items = []
        for caption in CAPTIONS:
            head = (r.field(), r.int8())
            assert head[0] == caption, head
            if caption == "Favorites":
                names = []
                name = r.field()
                while name != "(end)":
                    names.append(name)
                    name = r.field()
                r.int64()
                self.favorite_names = names
            elif caption == "IE Settings":
                read_key_tree(r)
            else:
                r.field()
                r.int64()
            self.items.append(head)
        enc = self.encrypted == 1
        dest_length = r.int64()
        self.destination = r.take(dest_length)
        assert dest_length == (1288 if enc else 1281), dest_length
        scheme_length = r.int64()
        assert scheme_length == (48 if enc else 40), scheme_length
        r.take(scheme_length)
        # The items' data, in source-set order, for the selected ones only.
        self.data = {}
        for caption, selected in self.items:
            if not selected:
                continue
            if caption in ("Windows Address Book", "Favorites"):
                self.data[caption] = {"files": read_file_list(r, enc)}
            elif caption == "IE Settings":
                length = r.int64()
                section = r.take(length)
                entry = {}
                if not enc:
                    sr = Reader(section)
                    assert (sr.field(), sr.int8()) == ("IE Settings", 1)
                    entry["keys"] = read_key_tree(sr)
                    assert sr.at_end()
                else:
                    assert length % 8 == 0
                self.data[caption] = entry
            else:
                accounts = read_key_tree(r)
                identities = read_key_tree(r)
                self.data[caption] = {"keys": accounts + identities, "files": read_file_list(r, enc)}
        assert r.at_end(), "%d bytes follow the last item's data" % (len(self.plain) - r.at)


def run_cli(*args, password=None, env_extra=None):
    env = dict(os.environ)
    env.pop("TESSALY_PASSWORD", None)
    if password is not None:
        env["TESSALY_PASSWORD"] = password
    env.update(env_extra or {})
    done = subprocess.run([CLI] + list(args), env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError("tessaly-cli %s: exit %d\n%s" % (" ".join(args), done.returncode, done.stderr))
    return done


class SecondReaderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = cls.tmp.name
        cls.profile = os.path.join(cls.root, "profile")
        subprocess.run([MAKE_PROFILE, cls.profile, "--user", USER], check=True, capture_output=True)
        cls.env = {"XDG_CACHE_HOME": os.path.join(cls.root, "cache"), "USER": USER}
        cls.files = {}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def backup(self, name, level, password=None):
        out = os.path.join(self.root, "out-" + name)
        os.makedirs(out, exist_ok=True)
        project = os.path.join(self.root, name + ".tsly")
        args = ["new", project, "--name", name, "--items", "all", "--folder", out, "--level", level,
                "--profile", self.profile]
        if password is not None:
            args.append("--encrypt")
        run_cli(*args, password=password, env_extra=self.env)
        run_cli("backup", project, "--profile", self.profile, password=password, env_extra=self.env)
        return DataFile(os.path.join(out, name + ".tsly_dat")), out

    def host_path(self, stored):
        for placeholder, folder in PLACEHOLDERS.items():
            if stored.lower().startswith(placeholder.lower()):
                rest = stored[len(placeholder):].lstrip("\\").replace("\\", "/")
                return os.path.join(self.profile, "drive_c", folder, rest)
        self.fail("stored name without a known placeholder: " + stored)

    def files_below(self, folder):
        base = os.path.join(self.profile, "drive_c", folder)
        found = set()
        for dirpath, _, names in os.walk(base):
            for name in names:
                found.add(os.path.relpath(os.path.join(dirpath, name), base))
        return found

    def check_files(self, files, placeholder, expect_all=True):
        stored = set()
        for name, content in files:
            self.assertTrue(name.startswith(placeholder), name)
            with open(self.host_path(name), "rb") as f:
                self.assertEqual(f.read(), content, name)
            stored.add(os.path.relpath(self.host_path(name), os.path.join(
                self.profile, "drive_c", PLACEHOLDERS[placeholder.split("\\")[0]])))
        return stored

    def test_every_level_gives_a_whole_stream_matching_the_profile(self):
        flags = {"none": b"\x78\x01", "fastest": b"\x78\x01", "default": b"\x78\x9c", "max": b"\x78\xda"}
        for level, zheader in flags.items():
            with self.subTest(level=level):
                data, out = self.backup("Plain-" + level, level)
                self.assertEqual(data.zlib_header, zheader)
                self.assertEqual(data.encrypted, 0)
                self.assertEqual(data.name, "Plain-" + level)
                self.assertEqual(data.level, ["none", "fastest", "default", "max"].index(level))
                self.assertEqual([s for _, s in data.items], [1, 1, 1, 1])
                self.assertEqual(data.destination[0], 0)
                self.assertEqual(host_text(data.destination[1:257].split(b"\0")[0]), out)

                book = data.data["Windows Address Book"]["files"]
                stored = self.check_files(book, "[CSIDL_APPDATA]\\Microsoft\\Address Book\\")
                self.assertEqual(stored, {os.path.join("Microsoft/Address Book", n) for n in
                                          self.files_below(PLACEHOLDERS["[CSIDL_APPDATA]"] + "/Microsoft/Address Book")})
                self.assertGreater(len(book), 0)

                oe = data.data["Outlook Express Data"]
                stored = self.check_files(oe["files"], "[CSIDL_LOCAL_APPDATA]\\Identities\\")
                self.assertEqual(stored, {os.path.join("Identities", n) for n in
                                          self.files_below(PLACEHOLDERS["[CSIDL_LOCAL_APPDATA]"] + "/Identities")})
                paths = [path for path, _ in oe["keys"]]
                self.assertEqual(paths[0], "\\Software\\Microsoft\\Internet Account Manager")
                self.assertIn("\\Identities", paths)

                favorites = data.data["Favorites"]["files"]
                stored = self.check_files(favorites, "[CSIDL_FAVORITES]\\")
                self.assertEqual(len(favorites), len(data.favorite_names))
                urls = {n for n in self.files_below(PLACEHOLDERS["[CSIDL_FAVORITES]"]) if n.endswith(".url")}
                self.assertEqual(stored, urls)

                ie = data.data["IE Settings"]["keys"]
                self.assertEqual(ie[0][0], "\\Software\\Microsoft\\Internet Explorer")
                main = dict(ie)["\\Software\\Microsoft\\Internet Explorer\\Main"]
                self.assertEqual(main["Show_ToolBar"][0], 3)

    def test_a_password_encrypts_every_section_but_keeps_the_layout(self):
        plain, _ = self.backup("Clear", "default")
        secret, _ = self.backup("Secret", "default", password="s\u00e9same")
        self.assertEqual(secret.encrypted, 1)
        for caption in ("Windows Address Book", "Favorites"):
            self.assertEqual(len(secret.data[caption]["files"]), len(plain.data[caption]["files"]), caption)
        # The two registry trees of the mail item are never encrypted.
        self.assertEqual(secret.data["Outlook Express Data"]["keys"], plain.data["Outlook Express Data"]["keys"])
        self.assertNotIn(b"ftp", secret.destination)


if __name__ == "__main__":
    CLI, MAKE_PROFILE = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
