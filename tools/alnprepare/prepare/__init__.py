"""alnprepare: turn an alignment and a Newick tree into an alnsampler test case.

Modules: alignment (reading and checking the formats), coding (characters to
the sampler's values, modelled columns), tree (reading, rooting, the
sampler's layout), case_writer (the case folder), report and command (the
command line).
"""
