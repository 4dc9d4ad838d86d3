#include "netlib/core/vqCPtrList.h"

vqCPtrList::~vqCPtrList()
{
    RemoveAll();
}

void vqCPtrList::AddTail(void* value)
{
    Node* node = new Node{value, m_tail, nullptr};
    if (m_tail) {
        m_tail->next = node;
    } else {
        m_head = node;
        m_cursor = node;
    }
    m_tail = node;
    ++m_count;
}

vqCPtrList::Node* vqCPtrList::NodeAt(int32_t index) const
{
    if (index < 0 || index >= m_count) return nullptr;
    Node* node = m_head;
    while (index-- > 0) node = node->next;
    return node;
}

void* vqCPtrList::GetAt(int32_t index)
{
    Node* node = NodeAt(index);
    if (!node) return nullptr;
    m_cursor = node;
    return node->value;
}

void vqCPtrList::Unlink(Node* node)
{
    if (node->prev) node->prev->next = node->next;
    else m_head = node->next;
    if (node->next) node->next->prev = node->prev;
    else m_tail = node->prev;
    delete node;
    --m_count;
}

void* vqCPtrList::RemoveAt(int32_t index)
{
    Node* node = NodeAt(index);
    if (!node) return nullptr;
    void* value = node->value;
    Unlink(node);
    m_cursor = m_head;
    return value;
}

void* vqCPtrList::Remove(void* value)
{
    for (Node* node = m_head; node; node = node->next) {
        if (node->value != value) continue;
        bool wasCursor = node == m_cursor;
        Unlink(node);
        if (wasCursor) m_cursor = m_head;
        return value;
    }
    return nullptr;
}

void vqCPtrList::RemoveAll()
{
    Node* node = m_head;
    while (node) {
        Node* next = node->next;
        delete node;
        node = next;
    }
    m_head = m_tail = m_cursor = nullptr;
    m_count = 0;
}
