#pragma once
#include "platform/String.h"

struct __POSITION {};
typedef __POSITION* POSITION;

// An ordered list of strings that owns a copy of each entry. Nodes come from blocks of ten and
// live until the list is destroyed; entries are only ever added at the tail.
class CStringList {
public:
    CStringList() = default;
    ~CStringList();
    CStringList(const CStringList&) = delete;
    CStringList& operator=(const CStringList&) = delete;

    POSITION AddTail(LPCWSTR newElement);
    INT_PTR GetCount() const { return m_nCount; }
    POSITION FindIndex(INT_PTR nIndex) const;
    const CString& GetAt(POSITION position) const;

private:
    struct CNode {
        CNode* pNext;
        CString data;
    };
    struct CBlock {
        CBlock* pNext;
    };
    enum { nBlockSize = 10 };

    CNode* m_pNodeHead = nullptr;
    CNode* m_pNodeTail = nullptr;
    CNode* m_pNodeFree = nullptr;
    int m_nFreeInBlock = 0;
    CBlock* m_pBlocks = nullptr;
    INT_PTR m_nCount = 0;
};
