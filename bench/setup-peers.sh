#!/bin/sh
# Installs what the peer comparison needs (Debian): FFTW3 for bench_peers
# and SciPy for scipy_correlate.py. Neither is needed by the libraries or
# their tests. Then reconfigure the build so that bench_peers is built.
set -e
apt-get update
apt-get install -y libfftw3-dev python3-scipy
