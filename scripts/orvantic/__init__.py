"""The package the tools share, a module per job (docs/development.md lists
them); installed beside the scripts, which find it there."""
