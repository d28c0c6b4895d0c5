"""The subcommands of `zv`; each module offers NAME, HELP, add_arguments(parser) and run(args)."""
