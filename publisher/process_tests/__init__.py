"""The publisher's process tests, one module per concern, sharing the fixture module.
Run them through publisher/publisher_test.py, which takes the command line."""
