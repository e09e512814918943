"""alnmerge: the summaries of window cases merged into genome-wide tracks and tables.

Modules: windows (the windows tables and each window's summary files),
tracks (the merged wig and BED tracks), tables (the genome windows table and
the report) and command (the command line).
"""
