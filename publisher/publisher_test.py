#!/usr/bin/env python3
"""The real orn-publish command run as a process over temporary trees.

The tests live in process_tests/, one module per concern; this entry point
takes the command line and runs them. Its namespace holds every test class,
so that a test is named as Class.test_name (the package check names one)."""
import argparse
import os
import sys
import unittest

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(os.path.dirname(here), "tests"))  # release_signing
from process_tests import fixture  # noqa: E402
from process_tests.adoption import AdoptionReport  # noqa: E402,F401
from process_tests.deployer_slips import DeployerSlips  # noqa: E402,F401
from process_tests.hostile_server import SigningOnAHostileServer  # noqa: E402,F401
from process_tests.publishing import Publisher  # noqa: E402,F401
from process_tests.publishing_safely import PublishingSafely  # noqa: E402,F401
from process_tests.release_manager import ReleaseManagerCommands  # noqa: E402,F401
from process_tests.rollouts import Rollouts  # noqa: E402,F401
from process_tests.signed_publishing import SignedPublishing  # noqa: E402,F401

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--publisher", required=True)
    options, rest = parser.parse_known_args()
    fixture.configure(options)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
