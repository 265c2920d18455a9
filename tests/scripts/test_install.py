"""The install rules: cmake --install into a prefix of its own, and the
Debian package that cpack makes from the same rules, unpacked. Each tree
holds exactly the program, the scripts with their modules, the build's
record and the short-count program, the README with the docs pages and the
Slurm example, and its scripts work from there on a real results file as
they do from the checkout, and project-duration on a directory."""

import glob
import os
import stat
import subprocess
import sys
import unittest

from testbed import files_left as f
from testbed import harness as h
from orvantic import probes, records

BUILD = os.environ.get("ORVANTIC_BUILD_DIR")
SCRIPTS = "lib/orvantic-drives"
DOC = "share/doc/orvantic-drives"
PROGRAMS = ["results-to-csv", "plot-results", "repeat-runs", "compare", "run-environment", "project-duration",
            "results-page"]
# The scripts' package, installed beside them, with the results page's style and script.
MODULES = ["orvantic/" + os.path.basename(module) for pattern in ("*.py", "*.css", "*.js")
           for module in glob.glob(os.path.join(h.SCRIPTS, "orvantic", pattern))]
# Installed path: where the same bytes are in the checkout (None: built).
SHORT = SCRIPTS + "/orvantic-drives-bench"
# The README's links lead to the docs pages beside it, and the pages to their pictures.
DOCS = os.path.join(os.path.dirname(h.SCRIPTS), "docs")
PAGES = [os.path.relpath(path, DOCS) for pattern in ("*.md", os.path.join("images", "*.png"))
         for path in glob.glob(os.path.join(DOCS, pattern))]
FILES = dict([("bin/orvantic-drives", None), (SHORT, None), (SCRIPTS + "/" + probes.BUILD_INFO, None),
              (DOC + "/README.md", "README.md"), (DOC + "/examples/slurm-job.sh", "examples/slurm-job.sh")]
             + [(DOC + "/docs/" + page, "docs/" + page) for page in PAGES]
             + [(SCRIPTS + "/" + name, "scripts/" + name) for name in PROGRAMS + MODULES])
EXECUTABLE = ({"bin/orvantic-drives", SHORT, DOC + "/examples/slurm-job.sh"}
              | {SCRIPTS + "/" + name for name in PROGRAMS})
SPACE = THREE = None


def setUpModule():
    global SPACE, THREE
    SPACE = h.module_workspace(h.SMALL)
    THREE = f.results_of_run(3)


def run(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=h.launcher_env(),
                          timeout=h.HANG_LIMIT, check=False)


def files_under(root):
    return sorted(os.path.relpath(os.path.join(directory, name), root)
                  for directory, _, names in os.walk(root) for name in names)


class Installed(unittest.TestCase):
    def setUp(self):
        if not BUILD:
            self.fail("ORVANTIC_BUILD_DIR not set")

    def check_tree(self, root):
        self.assertEqual(files_under(root), sorted(FILES))
        checkout = os.path.dirname(h.SCRIPTS)
        for path, source in FILES.items():
            mode = os.stat(os.path.join(root, path)).st_mode
            self.assertEqual(bool(mode & stat.S_IXUSR), path in EXECUTABLE, path)
            if source:
                with open(os.path.join(root, path), "rb") as installed, \
                        open(os.path.join(checkout, source), "rb") as original:
                    self.assertEqual(installed.read(), original.read(), path)
        scripts = os.path.join(root, SCRIPTS)

        def script(name, *args):
            done = run(os.path.join(scripts, name), *args)
            self.assertEqual(done.returncode, 0, "%s: %s" % (name, done.stderr))
            return done.stdout

        self.assertEqual(script("results-to-csv", THREE), run(sys.executable, os.path.join(h.SCRIPTS, "results-to-csv"),
                                                              THREE).stdout)
        compared = script("compare", "--a", THREE, THREE, THREE, THREE, "--b", THREE, THREE, THREE, THREE)
        self.assertIn("no difference shown at this spread", compared)
        self.assertNotIn("B faster", compared)
        pictures = os.path.join(SPACE.subdir("pictures-%d" % len(os.listdir(SPACE.root))), "png")
        self.assertEqual(len(script("plot-results", "-d", pictures, THREE).split()), 6)
        page = os.path.join(os.path.dirname(pictures), "page.html")
        self.assertEqual(script("results-page", "-o", page, THREE), page + "\n")
        with open(page, encoding="utf-8") as handle:
            self.assertIn("<svg", handle.read())
        fields = records.parse(script("run-environment", SPACE.root, "--", h.MPIEXEC,
                                          os.path.join(root, "bin", "orvantic-drives")))
        built = records.read(os.path.join(BUILD, probes.BUILD_INFO))
        self.assertEqual(fields["program version"], "%s, commit %s" % (built["version"], built["commit"]))
        self.assertRegex(fields["MPI library"], r"^libmpi")

        # No set-up script installed: a series needs its command.
        series = SPACE.subdir("series-%d" % len(os.listdir(SPACE.root)))
        refused = run(os.path.join(scripts, "repeat-runs"), "1", series)
        self.assertEqual(refused.returncode, 2)
        self.assertIn("give the command of one run after --", refused.stderr)
        script("repeat-runs", "1", series, "--", h.MPIEXEC, "-n", "2", h.SMALL)
        self.assertEqual(len(f.results_file_names(series)), 1)

        # The short-count program found beside the script; nothing left.
        before = os.listdir(series)
        self.assertIn("\nTotal: about ", script("project-duration", "-n", "2", series))
        self.assertEqual(os.listdir(series), before)

    def test_cmake_install_into_a_prefix(self):
        prefix = SPACE.subdir("prefix")
        done = run("cmake", "--install", BUILD, "--prefix", prefix)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.check_tree(prefix)

    def test_the_debian_package(self):
        out = SPACE.subdir("package")
        done = run("cpack", "-G", "DEB", "-B", out, "--config", os.path.join(BUILD, "CPackConfig.cmake"))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        (package,) = glob.glob(os.path.join(out, "*.deb"))
        depends = {item.split()[0] for item in run("dpkg-deb", "-f", package, "Depends").stdout.split(",")}
        mpi = ["mpich", "libmpich12"] if h.MPIEXEC.endswith(".mpich") else ["openmpi-bin", "libopenmpi3"]
        self.assertLessEqual({"python3", "python3-matplotlib", "libc6", "libstdc++6"} | set(mpi),
                             depends)
        root = SPACE.subdir("unpacked")
        done = run("dpkg-deb", "-x", package, root)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.check_tree(os.path.join(root, "usr"))
        self.check_removal_leaves_no_bytecode(package, root)

    def check_removal_leaves_no_bytecode(self, package, root):
        """A script run as root leaves __pycache__ beside the package's
        files; the package's prerm removes it, and nothing of the package."""
        control = SPACE.subdir("control")
        done = run("dpkg-deb", "-e", package, control)
        self.assertEqual(done.returncode, 0, done.stderr)
        package_dir = os.path.join(root, "usr", "lib", "orvantic-drives", "orvantic")
        shipped = sorted(os.listdir(package_dir))
        os.mkdir(os.path.join(package_dir, "__pycache__"))
        open(os.path.join(package_dir, "__pycache__", "texts.cpython-311.pyc"), "wb").close()
        done = subprocess.run([os.path.join(control, "prerm"), "remove"], env=dict(os.environ, DPKG_ROOT=root),
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(os.listdir(package_dir)), shipped)


if __name__ == "__main__":
    unittest.main(verbosity=2)
