#pragma once

// The whole program's start-up, shared by the quelvard executable and the smoke tests' build of
// it, so both run exactly the same program. Reads no command line; returns the exit code.
int QuelvardMain();
