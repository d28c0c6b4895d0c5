"""What the live views (`zv monitor`, `zv scope`) share: the source of power samples they read,
the settings a user may change while watching, a recording started from a view, and the power
units and statistics."""
