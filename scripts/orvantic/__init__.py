"""The modules the report scripts share, one job each: the report's texts
(texts), the shapes of its lines and matching (shapes), the lines of a
whole report (grammar), results files read into runs (reading), their rows
(measured), tables (tables), series of runs (series), pictures (plots),
the environment of runs as read on a node (probes), kept as text
(records) and set side by side for a job's nodes (nodes), one process on
every node of a job (jobs) and the scripts' terminal side (terminal).
Installed beside the scripts, which find it there."""
