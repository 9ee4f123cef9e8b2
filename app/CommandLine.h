#pragma once

// Reads the words that a deployment tool passes, as Windows splits a command line into words: /S
// (either case) asks for a silent run and sets g_silent, /LOG=<path> opens the removal log, which
// then starts with the command line. Every other word is ignored: a user's run passes none.
void ReadCommandLine();
