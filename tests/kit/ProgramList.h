// The kit's own list of its programs, programs.txt beside the runner, written when the kit is made:
// one line "<SHA-256 in hex>  <file name>" for each program that a run needs.
#pragma once
#include <string>
#include <vector>

struct KitProgram {
    std::wstring name;
    std::wstring sha256;
};

// The programs listed in kit\programs.txt; false, with the reason, when the list cannot be read.
bool ReadProgramList(const std::wstring& kit, std::vector<KitProgram>& programs, std::wstring& error);

// Why the kit's file of that program is not the one listed ("missing", "altered"), or nothing.
std::wstring CheckProgram(const std::wstring& kit, const KitProgram& program);
