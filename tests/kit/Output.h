// What the runner says: its lines on the console, and run-tests.log.
#pragma once
#include "platform/Handle.h"
#include <string>

// One line on the console: in Unicode in a console window; in the console's code page when the
// output goes to a file or a pipe, as cmd's own output does.
void Say(const std::wstring& line);

// run-tests.log, written anew in UTF-8, with a byte order mark so that every Windows' Notepad reads it
// as such: the runner's own lines, and the test programs' output as it comes, which is UTF-8 too
// (ASCII but for the end-to-end tests' window names and paths). Each write says whether all of it
// was written.
class CRunLog {
public:
    explicit CRunLog(const std::wstring& path);
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;

    bool IsOpen() const { return m_file.IsValid(); }
    bool Write(const char* bytes, DWORD size);
    bool Line(const std::wstring& line);

private:
    CHandle m_file;
};

// Both: a line on the console and in the log.
void Tell(CRunLog& log, const std::wstring& line);
