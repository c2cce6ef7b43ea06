"""The manual page and the bash completion must know exactly the commands and options that
tessaly-cli's own --help texts list; a scripted bash completes as a user would expect.

Usage: docs_consistency_test.py TESSALY_CLI MANUAL_PAGE COMPLETION_SCRIPT
"""
import re
import subprocess
import sys
import unittest

CLI, MAN, COMPLETION = sys.argv[1:4]
OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*")


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, check=True).stdout


def commands_of_help():
    text = run("--help")
    block = text.split("Commands:")[1].split("\n\n")[0]
    return {line.split()[0] for line in block.splitlines() if line.strip()}


def options_of_help():
    return {c: set(OPTION.findall(run(c, "--help"))) | {"--help", "--profile"} for c in commands_of_help()}


def completion(*words):
    script = (f"source {COMPLETION}; COMP_WORDS=({' '.join(repr(w) for w in words)}); "
              f"COMP_CWORD={len(words) - 1}; _tessaly_cli; printf '%s\\n' \"${{COMPREPLY[@]}}\"")
    out = subprocess.run(["bash", "-c", script], capture_output=True, text=True, check=True).stdout
    return set(out.split())


class ManualPage(unittest.TestCase):
    def setUp(self):
        self.man = open(MAN, encoding="utf-8").read().replace("\\-", "-")

    def test_every_command_has_a_section(self):
        documented = set(re.findall(r'^\.BI? "?([a-z][a-z-]*) ', self.man, re.M))
        self.assertEqual(commands_of_help(), documented & commands_of_help())
        self.assertFalse({c for c in documented if c not in commands_of_help()} - {"tessaly", "tessaly-cli"},
                         "the page documents a command the program lacks")

    def test_options_are_the_same_both_ways(self):
        in_help = set().union(*options_of_help().values()) | set(OPTION.findall(run("--help")))
        in_man = set(OPTION.findall(self.man))
        self.assertEqual(in_help, in_man)


class BashCompletion(unittest.TestCase):
    def test_commands(self):
        self.assertEqual(completion("tessaly-cli", ""), commands_of_help() | {"--help", "--version"})

    def test_options_of_each_command_match_its_help(self):
        for command, options in options_of_help().items():
            with self.subTest(command=command):
                self.assertEqual(completion("tessaly-cli", command, "--"), options)

    def test_values(self):
        cases = [
            (("tessaly-cli", "new", "--level", "f"), {"fastest"}),
            (("tessaly-cli", "restore", "x.tsly_dat", "--items", "oe,f"), {"oe,favorites"}),
            (("tessaly-cli", "new", "--items", "a"), {"addressbook", "all"}),
            (("tessaly-cli", "restore", "--items", "a"), {"addressbook"}),
            (("tessaly-cli", "extract", "--items", "i"), {"ie"}),
        ]
        for words, expected in cases:
            with self.subTest(words=words):
                self.assertEqual(completion(*words), expected)


class ExtractCompletion(unittest.TestCase):
    def test_data_file_then_folder(self):
        import os
        import tempfile
        with tempfile.TemporaryDirectory() as root:
            os.mkdir(os.path.join(root, "out"))
            open(os.path.join(root, "a.tsly_dat"), "w").close()
            open(os.path.join(root, "notes.txt"), "w").close()
            first = completion("tessaly-cli", "extract", root + "/")
            second = completion("tessaly-cli", "extract", "--items", "oe", root + "/a.tsly_dat", root + "/")
        self.assertEqual(first, {root + "/a.tsly_dat", root + "/out"})
        self.assertEqual(second, {root + "/out"})


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
