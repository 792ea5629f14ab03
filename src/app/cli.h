#pragma once

// The batch command line: `zarvelo --help`, `--version` and
// `--convert FORMAT [options] PATH...`. It runs without a window and loads no
// GUI platform, uses the same conversion job as the window, and never reads
// or writes the settings file.

// Whether the arguments ask for the batch command line rather than the
// window: one of its options appears before a lone "--". A command line
// starting with "/auto" is always the window's.
bool IsCommandLineRun(int argc, char **argv);

// Runs the batch command line in a QCoreApplication of its own and returns
// the exit status: 0 when every file was converted (and for --help and
// --version), 1 when some path or file failed or the run was interrupted,
// 2 for a usage error (unknown format or option, bad number, no paths, an
// output folder that cannot be made). Must be called before any other
// application object exists.
int RunCommandLine(int argc, char **argv);
