"""Helpers shared by the companion tools alnprepare and alnsummarize (see case.py)."""
