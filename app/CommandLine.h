#pragma once

// Reads the words that a deployment tool passes, as Windows splits a command line into words, and
// says whether they ask for a silent run: /S, /SILENT, /VERYSILENT, /QUIET, /Q or /QN, in any case,
// with / or -. The last /LOG=<path> opens the removal log, which then starts with the command line.
// Every other word is ignored, /NORESTART among them (a silent run never restarts a machine); a
// user's run passes none.
bool ReadCommandLine();
