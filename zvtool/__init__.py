"""zv: the command-line tool for the HLM25 USB photodetector (list, info, capture, show, plot, repair, bench, setup)."""
