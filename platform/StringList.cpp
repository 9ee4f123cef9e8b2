#include "platform/StringList.h"
#include <new>

CStringList::~CStringList()
{
    for (CNode* pNode = m_pNodeHead; pNode; pNode = pNode->pNext)
        pNode->data.~CString();
    while (m_pBlocks) {
        CBlock* pNext = m_pBlocks->pNext;
        ::HeapFree(::GetProcessHeap(), 0, m_pBlocks);
        m_pBlocks = pNext;
    }
}

POSITION CStringList::AddTail(LPCWSTR newElement)
{
    if (m_nFreeInBlock == 0) {
        CBlock* pBlock = static_cast<CBlock*>(::HeapAlloc(::GetProcessHeap(), HEAP_GENERATE_EXCEPTIONS,
                                                          sizeof(CBlock) + nBlockSize * sizeof(CNode)));
        pBlock->pNext = m_pBlocks;
        m_pBlocks = pBlock;
        m_pNodeFree = reinterpret_cast<CNode*>(pBlock + 1);
        m_nFreeInBlock = nBlockSize;
    }
    CNode* pNode = new (m_pNodeFree++) CNode{nullptr, CString(newElement)};
    --m_nFreeInBlock;

    if (m_pNodeTail) m_pNodeTail->pNext = pNode;
    else m_pNodeHead = pNode;
    m_pNodeTail = pNode;
    ++m_nCount;
    return reinterpret_cast<POSITION>(pNode);
}

POSITION CStringList::FindIndex(INT_PTR nIndex) const
{
    if (nIndex < 0 || nIndex >= m_nCount) return nullptr;
    CNode* pNode = m_pNodeHead;
    while (nIndex--) pNode = pNode->pNext;
    return reinterpret_cast<POSITION>(pNode);
}

const CString& CStringList::GetAt(POSITION position) const
{
    return reinterpret_cast<CNode*>(position)->data;
}
