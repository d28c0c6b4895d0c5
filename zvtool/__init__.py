"""zv: the command-line tool for the HLM25 USB photodetector (list, info, capture, monitor,
scope, show, plot, repair, bench, setup)."""
