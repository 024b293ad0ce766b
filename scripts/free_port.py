#!/usr/bin/env python3
"""Prints a TCP port that is free on 127.0.0.1 right now."""
import socket

with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    print(probe.getsockname()[1])
