"""The test bed that the suites and bench/ share, imported by its package
name from the tests folder (CTest puts that folder on PYTHONPATH): harness
(launching the program in throw-away workspaces), report_checks and
report_expectations (the report's lines as the grammar has them),
files_left (what a run leaves behind), mpi_leftovers, and the simulated
cluster: simulated_nodes, job_checks, gluster_volume, ceph_volume and
slurm_cluster."""
