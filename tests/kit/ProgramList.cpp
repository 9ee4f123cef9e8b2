#include "kit/ProgramList.h"
#include "platform/Handle.h"
#include <wincrypt.h>

static const wchar_t LIST_NAME[] = L"programs.txt";

bool ReadProgramList(const std::wstring& kit, std::vector<KitProgram>& programs, std::wstring& error)
{
    CHandle file(::CreateFileW((kit + LIST_NAME).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr));
    std::string text(64 * 1024, '\0');
    DWORD size = 0;
    if (!file.IsValid() || !::ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &size, nullptr)) {
        error = L"The kit's list of programs, " + kit + LIST_NAME + L", cannot be read (error " +
                std::to_wstring(::GetLastError()) + L"): unpack the whole kit again.";
        return false;
    }
    text.resize(size);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        const size_t gap = line.find("  ");
        if (gap == std::string::npos) continue;
        const std::string name = line.substr(gap + 2, line.find_last_not_of("\r ") - gap - 1);
        programs.push_back({std::wstring(name.begin(), name.end()), std::wstring(line.begin(), line.begin() + gap)});
    }
    if (programs.empty()) error = L"The kit's list of programs, " + kit + LIST_NAME + L", names none.";
    return !programs.empty();
}

// SHA-256 through CryptoAPI: the AES provider has it from Windows XP SP3 on.
static std::wstring Sha256(HANDLE file)
{
    HCRYPTPROV provider;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return L"";
    HCRYPTHASH hash;
    std::wstring hex;
    if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
        BYTE buffer[64 * 1024];
        DWORD read = 0;
        bool ok = true;
        while (ok && (ok = ::ReadFile(file, buffer, sizeof buffer, &read, nullptr)) && read)
            ok = ::CryptHashData(hash, buffer, read, 0);
        BYTE value[32];
        DWORD size = sizeof value;
        if (ok && ::CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0))
            for (DWORD i = 0; i < size; ++i) {
                hex += L"0123456789abcdef"[value[i] >> 4];
                hex += L"0123456789abcdef"[value[i] & 15];
            }
        ::CryptDestroyHash(hash);
    }
    ::CryptReleaseContext(provider, 0);
    return hex;
}

std::wstring CheckProgram(const std::wstring& kit, const KitProgram& program)
{
    CHandle file(::CreateFileW((kit + program.name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? L"missing"
                                             : L"cannot be read (error " + std::to_wstring(error) + L")";
    }
    const std::wstring hash = Sha256(file);
    if (hash.empty()) return L"cannot be hashed (error " + std::to_wstring(::GetLastError()) + L")";
    return hash == program.sha256 ? L"" : L"altered (its SHA-256 is not the one the kit was made with)";
}
