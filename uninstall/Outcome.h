#pragma once

// What became of a run: first the removal's own results, from best to worst, then the reasons for
// which a run changes nothing.
enum Outcome {
    REMOVED,             // everything listed is gone, or goes once this process has ended
    REMOVED_AT_RESTART,  // some of it goes at the next restart
    REMOVAL_FAILED,      // something listed stays; a silent run keeps what a retry needs
    NOTHING_INSTALLED,   // neither a manifest nor an uninstall entry
    MANIFEST_MISSING,    // an uninstall entry, and no manifest beside this Uninst.exe
    NOTHING_LISTED_HERE, // a manifest whose entries name nothing that is there, beside more than itself
    PRODUCT_RUNNING,
    NOBODY_TO_ANSWER,
};

// The worse of two results of the removal.
inline Outcome Worse(Outcome a, Outcome b)
{
    return a > b ? a : b;
}

// A user's run at the desktop, or one that a deployment tool started, which nobody answers.
enum RunKind { RUN_AT_DESKTOP, RUN_UNATTENDED };
