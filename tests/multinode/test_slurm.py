"""The Slurm batch script of the docs, submitted with sbatch to a Slurm cluster
of three simulated nodes: mpiexec inside the allocation learns the nodes
from Slurm and starts its daemons through it."""

import os
import re
import unittest

import job_checks as jc
from job_checks import c, h
from orvantic import reading
import simulated_nodes as sn
import slurm_cluster as sc

REPOSITORY = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir)
JOB_SCRIPT = os.path.join(REPOSITORY, "examples", "slurm-job.sh")
SLURM_PAGE = os.path.join(REPOSITORY, "docs", "several-nodes.md")
JOB_LIMIT = 300  # seconds; only there to turn a hang into a failure
RUN_DIR = "run"  # below the common scratch path; each job's directory in it
PER_NODE = 1  # ranks per node: the root alone on node01, one worker on each other node


class SlurmBatchTests(unittest.TestCase):
    def test_batch_job_over_three_nodes(self):
        if not h.SMALL:
            self.fail("ORVANTIC_SMALL_BINARY not set")
        slurm = sc.SlurmCluster.start_for(self)
        cluster = slurm.cluster
        # The submit directory stands for a shared file system: the job's
        # output file is written there by the first node.
        submit = os.path.join(cluster.root, "submit")
        # The build's launcher as the plain `mpiexec` that the script calls;
        # a script, not a link: MPICH's launcher looks for its proxy next to
        # the path it was started by.
        tools = os.path.join(cluster.root, "bin")
        for directory in (submit, tools):
            os.mkdir(directory)
        with open(os.path.join(tools, "mpiexec"), "w") as f:
            f.write('#!/bin/sh\nexec %s "$@"\n' % h.MPIEXEC)
        os.chmod(os.path.join(tools, "mpiexec"), 0o755)
        env = jc.login_env(PATH=tools + ":" + sn.CLEAN_PATH,
                           ORVANTIC_RUN_DIR=os.path.join(cluster.scratch, RUN_DIR), ORVANTIC_PROGRAM=h.SMALL,
                           OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
        # Few processes on the shared cores: the node count stays the script's.
        submitted = slurm.client("sbatch", "--parsable", "--ntasks-per-node=%d" % PER_NODE, JOB_SCRIPT,
                                 wd=submit, env=env)
        self.assertEqual(submitted.returncode, 0, submitted.stderr)
        job_id = submitted.stdout.strip().split(";")[0]
        job = slurm.wait_for_job(job_id, JOB_LIMIT)
        print("batch job %s: submitted %s, started %s, ended %s"
              % (job_id, job.get("SubmitTime"), job.get("StartTime"), job.get("EndTime")))

        notes = ""
        error_file = os.path.join(submit, "orvantic-drives-%s.err" % job_id)
        if os.path.exists(error_file):
            with open(error_file, errors="replace") as f:
                notes = f.read()
        self.assertEqual((job.get("JobState"), job.get("ExitCode")), ("COMPLETED", "0:0"),
                         "job's error file:\n%s\n%s" % (notes, slurm.logs()))
        self.assertEqual(job.get("NodeList"), "node[01-03]")
        self.assertEqual(job.get("BatchHost"), "node01")
        with open(os.path.join(submit, "orvantic-drives-%s.out" % job_id), "rb") as f:
            lines, whole = reading.split_lines(f.read())
        self.assertTrue(whole, "rank 0's console ends inside a line")
        nodes = jc.ranks_by_slots(cluster, [PER_NODE] * len(cluster.nodes))
        head = cluster.nodes[0]
        job_dir = os.path.join(RUN_DIR, job_id)
        name = jc.results_file_on(self, cluster, head, job_dir)
        c.check_report(self, lines, os.path.join(cluster.scratch, job_dir, name),
                       cluster.read_scratch(head, os.path.join(job_dir, name)), nodes, h.SMALL_COUNTS,
                       sink="rank 0's console")
        # The job ran in a directory of its own, named after it, on every
        # node; its clean-up left the results file alone, on the first node.
        for node in cluster.nodes:
            self.assertEqual(cluster.scratch_files(node, RUN_DIR), [job_id] if node is head else [],
                             "job directories on %s" % node.name)
        self.assertEqual(cluster.scratch_files(head, job_dir), [name], "files left by the job")
        jc.check_nothing_left(self, cluster, keep=slurm.daemon_pids())
        cluster.close()


def documented_job_script():
    """The indented block of docs/several-nodes.md that starts with the
    script's first line, without its indent."""
    with open(SLURM_PAGE) as f:
        text = f.read()
    found = re.search(r"^    #!/bin/bash\n(?:(?:    .*)?\n)*", text, re.MULTILINE)
    if not found:
        return None
    return "\n".join(line[4:] for line in found.group(0).rstrip("\n").split("\n")) + "\n"


class JobScriptTests(unittest.TestCase):
    def test_docs_show_the_tested_script(self):
        with open(JOB_SCRIPT) as f:
            self.assertEqual(documented_job_script(), f.read(),
                             "the batch script in docs/several-nodes.md differs from examples/slurm-job.sh")


if __name__ == "__main__":
    unittest.main()
