"""`zv scope`: the live trace, spectrum and power of a detector in a web browser, served by zv
itself (a page, its script, and frames over a WebSocket)."""
