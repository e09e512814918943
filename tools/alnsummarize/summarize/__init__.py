"""alnsummarize: posterior summaries, diagnostics, tracks and plots of alnsampler runs.

Modules: runs (reading the traces of each chain), case_data (the test case's
positions and names), statistics (relabelling, ESS, R-hat, the summaries),
tables, tracks, plots, report and command (the command line).
"""
