"""The Slurm batch script of the docs, submitted with sbatch to a Slurm cluster
of three simulated nodes: mpiexec inside the allocation learns the nodes
from Slurm and starts its daemons through it. The script first projects the
run's duration, and starts no run that would outlast the job's time limit."""

import os
import re
import unittest

from testbed import job_checks as jc
from testbed.job_checks import c, h
from orvantic import reading
from testbed import slurm_cluster as sc

SLURM_PAGE = os.path.join(h.SCRIPTS, os.pardir, "docs", "several-nodes.md")


class SlurmBatchTests(unittest.TestCase):
    def test_batch_job_over_three_nodes(self):
        slurm = sc.SlurmCluster.start_for(self)
        cluster = slurm.cluster
        example = sc.ExampleJob(self, slurm, h.SMALL)
        job_id = example.id
        job = slurm.wait_for_job(job_id, jc.JOB_LIMIT)
        print("batch job %s: submitted %s, started %s, ended %s"
              % (job_id, job.get("SubmitTime"), job.get("StartTime"), job.get("EndTime")))
        self.assertEqual((job.get("JobState"), job.get("ExitCode")), ("COMPLETED", "0:0"), example.notes())
        # The projection came first, and found the run fits in the 30 minutes.
        self.assertRegex(example.output("err").decode("utf-8", "replace"),
                         r"\nSlurm job %s has about \d+ min \(\d+ s\) left: enough for the full run" % job_id)
        self.assertEqual(job.get("NodeList"), "node[01-03]")
        self.assertEqual(job.get("BatchHost"), "node01")
        lines, whole = reading.split_lines(example.output("out"))
        self.assertTrue(whole, "rank 0's console ends inside a line")
        nodes = jc.ranks_by_slots(cluster, [sc.PER_NODE] * len(cluster.nodes))
        head = cluster.nodes[0]
        job_dir = example.directory
        name = jc.results_file_on(self, cluster, head, job_dir)
        c.check_report(self, lines, os.path.join(cluster.scratch, job_dir, name),
                       cluster.read_scratch(head, os.path.join(job_dir, name)), nodes, h.SMALL_COUNTS,
                       sink="rank 0's console")
        # The job ran in a directory of its own, named after it, on every
        # node; its clean-up left the results file alone, on the first node.
        for node in cluster.nodes:
            self.assertEqual(cluster.scratch_files(node, sc.RUN_DIR), [job_id] if node is head else [],
                             "job directories on %s" % node.name)
        self.assertEqual(cluster.scratch_files(head, job_dir), [name], "files left by the job")
        jc.check_nothing_left(self, cluster, keep=slurm.daemon_pids())
        cluster.close()

    def test_run_that_would_not_fit_is_not_started(self):
        # A minute is less than a full run of six processes takes on two
        # cores, by minutes: the script's projection refuses the run before
        # the program writes anything, and the job fails.
        slurm = sc.SlurmCluster.start_for(self)
        cluster = slurm.cluster
        example = sc.ExampleJob(self, slurm, h.SMALL, options=["--time=1", "--ntasks-per-node=2"])
        job = slurm.wait_for_job(example.id, jc.JOB_LIMIT)
        notes = example.output("err").decode("utf-8", "replace")
        if job.get("JobState") == "COMPLETED" and "enough for the full run" in notes:
            self.skipTest("this machine projects a full run of six processes within a minute")
        self.assertEqual((job.get("JobState"), job.get("ExitCode")), ("FAILED", "1:0"), example.notes())
        refusal = re.search(r"^project-duration: the full run would not fit in Slurm job %s: it takes up to "
                            r"[^(]+\((\S+) s\), and the job has [^(]+\((\d+) s\) left\n" % example.id, notes, re.M)
        self.assertIsNotNone(refusal, notes)
        needed, left = float(refusal.group(1)), int(refusal.group(2))
        # What squeue told, after the short run, of a limit of 60 s: whole
        # seconds, so a short run within the job's first second leaves 60.
        self.assertLessEqual(left, 60)
        self.assertGreater(needed, left)
        said = notes.split("orvantic-drives not started: project-duration says why above.\n", 1)
        self.assertEqual(len(said), 2, notes)
        # After it only Slurm's own notes: the clean-up's step may wait for the
        # short run's steps to let go of the nodes ("Requested nodes are busy").
        self.assertTrue(all(line.startswith("srun: ") for line in said[1].splitlines()), notes)
        self.assertEqual(example.output("out"), b"", "the run started")
        # Neither the short run's directory nor the job's is left.
        for node in cluster.nodes:
            self.assertEqual(cluster.scratch_files(node, sc.RUN_DIR), [], "left on %s" % node.name)
        jc.check_nothing_left(self, cluster, keep=slurm.daemon_pids())


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
        with open(sc.JOB_SCRIPT) as f:
            self.assertEqual(documented_job_script(), f.read(),
                             "the batch script in docs/several-nodes.md differs from examples/slurm-job.sh")


if __name__ == "__main__":
    unittest.main()
