"""The end-to-end scenarios, one module per concern, sharing the fixture module.
Run them through tests/launcher_end_to_end_test.py, which takes the command line."""
