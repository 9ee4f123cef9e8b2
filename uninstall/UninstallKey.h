#pragma once
#include "platform/String.h"
#include "uninstall/Outcome.h"

// The product's entry in the system's list of installed programs, which Uninst.exe, a 32-bit
// program, sees in the registry's 32-bit view of HKEY_LOCAL_MACHINE.
bool UninstallKeyExists();
// The program that the entry's UninstallString, or else its QuietUninstallString, starts: the
// installation's own Uninst.exe; empty when neither names one.
CString UninstallKeyProgram();
// Deletes the entry and logs what became of it: REMOVED when it went or was not there, else
// REMOVAL_FAILED. A key with subkeys stays: the system deletes only a key without any.
Outcome DeleteUninstallKey();
// The key as the registry's editor shows it on this system, for the log.
CString UninstallKeyName();
